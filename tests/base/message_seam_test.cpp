// The lines an unattended program writes for its messages.
#include <gtest/gtest.h>

#include "base/message_seam.h"

namespace {

TEST(UnattendedLine, CarriesTheJournalPriorityOfItsCaptionOnOneLine) {
    struct Row {
        const char* caption;
        const char* text;
        const char* line;
    };
    const Row rows[] = {
        {"Ошибка!", "Ошибка при открытии СОМ-порта.",
         "<3>[Ошибка!] Ошибка при открытии СОМ-порта."},
        {"Ошибка", "Неверная информация", "<3>[Ошибка] Неверная информация"},
        {"Авария!", "Сбой", "<3>[Авария!] Сбой"},
        {"", "Невозможно установить активную АТС (2)",
         "<3>[] Невозможно установить активную АТС (2)"},
        {"Tallyphon 2.28", "bad_alloc", "<3>[Tallyphon 2.28] bad_alloc"},
        {"Внимание!", "Не выбран файл.", "<4>[Внимание!] Не выбран файл."},
        {"Предупреждение", "x", "<4>[Предупреждение] x"},
        {"Предупреждение!", "x", "<4>[Предупреждение!] x"},
        {"Уведомление", "АТС не\r\nобнаружена.", "<4>[Уведомление] АТС не  обнаружена."},
    };
    for (const Row& r : rows)
        EXPECT_EQ(seam::UnattendedLine(r.text, r.caption), r.line);
}

}  // namespace
