#include "low_level.h"

#include <unistd.h>

#include <boost/make_shared.hpp>
#include <climits>
#include <cstring>
#include <thread>

#include "message_seam.h"

namespace {

std::string CurrentDir() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

}  // namespace

TLowLevel::TLowLevel() : StartDir(CurrentDir()), port_(boost::make_shared<TCommPort>()) {}

TLowLevel::~TLowLevel() {
    try {
        port_->Close();
    } catch (const ECommError&) {
        // The program is ending; a port that will not close is let go.
    }
}

void TLowLevel::Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int TLowLevel::OpenPort(const std::string& name) {
    if (port_->IsOpen()) return -2;
    try {
        port_->SetStartDir(StartDir);
        port_->SetPortName(name);
        port_->Open(name);
        port_->PurgeInput();
        LastOpenError = ECommError(0, 0);
        return 1;
    } catch (const ECommError& e) {
        LastOpenError = e;
        return -1;
    }
}

int TLowLevel::CheckLink() {
    try {
        for (int pass = 0; pass < 5; ++pass) {
            port_->PurgeInput();
            port_->WriteByte(0x00);
            // -1 (nothing came) has low bits FF and fails like a wrong byte.
            if ((port_->ReadByteWait(200) & 0xFF) != 0) return -1;
        }
        return 1;
    } catch (const ECommError&) {
        return -1;
    }
}

int TLowLevel::CheckLinkRetry() {
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) Pause(300);
        if (CheckLink() == 1) return 1;
    }
    return -1;
}

bool TLowLevel::ReadPayload(uint8_t* reply, int capacity, int len, uint8_t& sum, int& checksum) {
    sum = 0;
    checksum = -1;
    for (int i = 0; i < len; ++i) {
        const int b = port_->ReadByteWait(500);
        if (b < 0) {
            // The reply was cut short. Waiting for each missing byte would
            // only cost 750 ms apiece: the rest reads as FF at once.
            for (int j = i; j < len && j < capacity; ++j)
                reply[j] = 0xFF;
            return false;
        }
        if (i < capacity) reply[i] = static_cast<uint8_t>(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    checksum = port_->ReadByteWait(500);
    return true;
}

int TLowLevel::Transact(uint8_t* reply, int& replyLen, uint8_t command, bool verify, int mode,
                        const uint8_t* block, int blockCount, uint8_t param) {
    try {
        port_->PurgeInput();
        bool linked = false;
        for (int round = 0; round < 3 && !linked; ++round) {
            if (round > 0) Pause(300);
            linked = CheckLinkRetry() == 1;
        }
        if (!linked) return -2;

        replyLen = -1;
        port_->PurgeInput();
        port_->WriteByte(command);
        if (mode == 2) {
            port_->WriteByte(param);
            port_->WriteByte(static_cast<uint8_t>(blockCount));
            port_->Flush();
            uint8_t sent = 0;
            for (int i = 0; i < blockCount; ++i) {
                const uint8_t v = block[i] ^ Key;
                port_->WriteByte(v);
                sent = static_cast<uint8_t>(sent + v);
            }
            port_->WriteByte(sent);
        }

        // A missing length byte is no reply: the caller sees length -1.
        const int len = port_->ReadByteWait(500);
        if (len < 0) return 1;
        replyLen = len;

        uint8_t sum = 0;
        int checksum = -1;
        if (!ReadPayload(reply, kRecordBufferSize, len, sum, checksum)) return -1;
        // The checksum covers the bytes as they travelled. A mismatch is read
        // again without a new request, a bounded number of times.
        for (int reread = 0; verify && (checksum & 0xFF) != sum; ++reread) {
            if (reread == kMaxChecksumRereads) return -1;
            if (!ReadPayload(reply, kRecordBufferSize, len, sum, checksum)) return -1;
        }
        for (int i = 0; i < len && i < kRecordBufferSize; ++i)
            reply[i] ^= Key;
        return 1;
    } catch (const ECommError&) {
        return -1;
    }
}

int TLowLevel::SelectUnit(int u, TSelectCaller caller) {
    const uint8_t coded = static_cast<uint8_t>(u) ^ Key;
    port_->WriteByte(0x84);
    port_->WriteByte(0x01);
    port_->WriteByte(coded);
    port_->WriteByte(coded);  // checksum of the one-byte block
    const bool identification = caller == TSelectCaller::Identification;
    Pause(identification ? 300 : 200);
    if (identification)
        port_->ReadByte();
    else
        port_->ReadByteWait(500);
    if (port_->ReadByteWait(500) == 0) return 1;

    if (identification) {
        seam::ShowMessage("Невозможно установить активную АТС(1)", "");
        seam::ExitProgram(0);
    } else {
        seam::ShowMessage("Невозможно установить активную АТС (2)", "");
    }
    return -1;
}
