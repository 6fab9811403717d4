// Identification of the exchange: model, name, version, serial number,
// clock, and the state of every unit's billing buffer.
#include <cstring>

#include "low_level.h"
#include "message_seam.h"

namespace {

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Model name, unit count and whether each unit is selected before its
// status request, for a type code; false for a code outside the table.
bool LookUpModel(uint8_t type, std::string& model, int& units, bool& select) {
    static const struct {
        const char* name;
        bool select;
    } kModels[] = {
        {"C", true},          // 3
        {"QTV610", false},    // 4
        {"QS800", true},      // 5
        {"QTV930-1", false},  // 6
        {"QS16", false},      // 7
        {"QS20", false},      // 8
        {"QS31", false},      // 9
        {"QS53", false},      // 10
    };
    if (type < 3 || type > 10) return false;
    model = kModels[type - 3].name;
    units = 1;
    select = kModels[type - 3].select;
    return true;
}

}  // namespace

int TLowLevel::ReadStatus(uint8_t* reply) {
    std::memset(reply, 0, kIdentBufferSize);
    port_->PurgeInput();
    port_->WriteByte(0x40);
    port_->WriteByte(0x03);
    port_->PurgeInput();
    const int len = port_->ReadByteWait(500);
    // No length byte: this attempt has failed. (Reading 255 bytes that will
    // never come would hold the program for minutes.)
    if (len < 0) return -1;
    uint8_t sum = 0;
    int checksum = -1;
    if (!ReadPayload(reply, kIdentBufferSize, len, sum, checksum)) return -1;
    if ((checksum & 0xFF) != sum || checksum < 0) return -1;
    for (int i = 0; i < len && i < kIdentBufferSize; ++i)
        reply[i] ^= Key;
    return len;
}

int TLowLevel::IdentifyExchange() {
    MultiUnit = false;
    UnitCount = 0;
    if (CheckLinkRetry() != 1) return -1;

    port_->PurgeInput();
    port_->WriteByte(0x01);
    port_->Flush();
    const int len = port_->ReadByteWait(500);
    if (len < 0 || len == 0xFF) return -2;
    uint8_t b[kIdentBufferSize];
    std::memset(b, 0, sizeof b);
    for (int i = 0; i < len; ++i) {
        const int v = port_->ReadByteWait(500);
        // A reply cut short is no reply: its key and model cannot be trusted.
        if (v < 0) return -2;
        if (i < kIdentBufferSize) b[i] = static_cast<uint8_t>(v);
    }
    Key = b[11];
    for (int i = 0; i < len && i < kIdentBufferSize; ++i)
        if (i != 11) b[i] ^= Key;

    // The name ends at the first zero byte, 17 bytes at most.
    ExchangeName.clear();
    for (int i = 16; i < 16 + 17 && i < len && b[i] != 0; ++i)
        ExchangeName += static_cast<char>(b[i]);

    const uint8_t type = b[5];
    if (type == 2) {
        std::string name;
        for (int i = 16; i <= 22 && b[i] != 0; ++i)
            name += static_cast<char>(b[i]);
        if (name.size() >= 3 && (name[0] == '2' || name[0] == '3') && name[2] == 'B')
            name.resize(3);
        if (name.compare(0, 3, "QS3") == 0 && name.size() > 5) name.resize(5);
        MultiUnit = !name.empty() && (name[0] == '2' || name[0] == '3');
        UnitCount = MultiUnit ? name[0] - '0' : 1;
        ModelName = name;
        SelectBeforeStatus = true;
    } else if (!LookUpModel(type, ModelName, UnitCount, SelectBeforeStatus)) {
        return -3;
    }

    SoftwareVersion =
        std::to_string(b[7]) + std::to_string(b[6] >> 4) + "," + std::to_string(b[6] & 0x0F);
    SerialNumber = std::to_string(Word(b + 14));
    TickLength = b[13] == 0 ? 6 : b[13];
    ExchangeClock = SecondsToDateTime(static_cast<uint64_t>(Word(b)) * 86400 +
                                      static_cast<uint64_t>(Word(b + 2)) * TickLength);

    BufferCapacity = 0;
    RecordsInBuffer = 0;
    for (int u = 0;; ++u) {
        if (CheckLinkRetry() != 1) return -2;
        port_->PurgeInput();
        // A refusal ends the program; should the exit be deferred, the
        // identification is over all the same.
        if (SelectBeforeStatus && SelectUnit(u, TSelectCaller::Identification) != 1) return -2;
        uint8_t status[kIdentBufferSize];
        int got = -1;
        for (int attempt = 0; attempt < 4 && got < 0; ++attempt)
            got = ReadStatus(status);
        if (got < 0) return -5;
        BufferCapacity += Word(status);
        RecordsInBuffer += static_cast<int>(Word(status + 2)) - static_cast<int>(Word(status + 4));
        if (RecordsInBuffer > BufferCapacity)
            seam::ShowMessage("Неверная информация в буфере тарификации", "Ошибка");
        if (u + 1 >= UnitCount) break;
    }
    return 1;
}
