#include "reports/output_clash.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace {

std::filesystem::path Resolved(const std::string& name) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(name, error);
    if (error) return std::filesystem::path(name).lexically_normal();
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path.lexically_normal() : resolved;
}

bool IsDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return Resolved(a) == Resolved(b);
}

std::string InputClash(const std::string& path, const std::vector<TNamedFile>& inputs) {
    for (const TNamedFile& input : inputs)
        if (!input.Path.empty() && SameFile(path, input.Path))
            return "Файл \"" + path + "\" — " + input.Role + ". Сохраните в другой файл.";
    return {};
}

std::string OutputsClash(const std::vector<TNamedFile>& outputs,
                         const std::vector<TNamedFile>& inputs) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        const TNamedFile& output = outputs[i];
        if (std::string clash = InputClash(output.Path, inputs); !clash.empty()) return clash;
        if (IsDevice(output.Path)) continue;
        for (size_t j = 0; j < i; ++j)
            if (SameFile(output.Path, outputs[j].Path))
                return "Файл \"" + output.Path + "\" указан и в " + outputs[j].Role + ", и в " +
                       output.Role + ". Укажите разные файлы.";
    }
    return {};
}
