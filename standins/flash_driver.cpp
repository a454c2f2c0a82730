#include "standins/flash_driver.h"

#include <cstring>

namespace standins {

using flashdrv::CardRecord;
using flashdrv::InfoBlock;
using flashdrv::WriteRequest;

void FlashDriver::SetVersion(uint16_t version) {
    std::lock_guard<std::mutex> hold(lock_);
    version_ = version;
}

void FlashDriver::SetInfoStatus(uint16_t status) {
    std::lock_guard<std::mutex> hold(lock_);
    info_status_ = status;
}

void FlashDriver::SetRecordCount(int count) {
    std::lock_guard<std::mutex> hold(lock_);
    record_count_ = count;
}

void FlashDriver::AddCard(const std::string& name, const Card& card) {
    std::lock_guard<std::mutex> hold(lock_);
    cards_[name].card = card;
}

void FlashDriver::Refuse(uint32_t code, Failure how, int nth) {
    std::lock_guard<std::mutex> hold(lock_);
    refusals_[code] = Refusal{how, nth};
    seen_[code] = 0;
}

std::map<uint32_t, uint8_t> FlashDriver::Flash(const std::string& card) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = cards_.find(card);
    return it == cards_.end() ? std::map<uint32_t, uint8_t>{} : it->second.flash;
}

std::map<uint32_t, uint8_t> FlashDriver::Cis(const std::string& card) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = cards_.find(card);
    return it == cards_.end() ? std::map<uint32_t, uint8_t>{} : it->second.cis;
}

int FlashDriver::erases(const std::string& card) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = cards_.find(card);
    return it == cards_.end() ? 0 : it->second.erases;
}

bool FlashDriver::flashing(const std::string& card) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = cards_.find(card);
    return it != cards_.end() && it->second.flashing;
}

std::vector<uint32_t> FlashDriver::codes() const {
    std::vector<uint32_t> out;
    for (const RecordedRequest& r : requests()) out.push_back(r.code);
    return out;
}

std::vector<uint8_t> FlashDriver::Range(const std::map<uint32_t, uint8_t>& image, uint32_t from, size_t length) {
    std::vector<uint8_t> out(length, 0xFF);
    for (auto it = image.lower_bound(from); it != image.end() && it->first - from < length; ++it)
        out[it->first - from] = it->second;
    return out;
}

FlashDriver::State* FlashDriver::Find(const char* name, size_t size) {
    const void* end = std::memchr(name, 0, size);
    if (!end) return nullptr;
    auto it = cards_.find(std::string(name, static_cast<const char*>(end)));
    return it == cards_.end() ? nullptr : &it->second;
}

bool FlashDriver::Refused(uint32_t code, Failure* how) {
    auto it = refusals_.find(code);
    if (it == refusals_.end()) return false;
    const int n = ++seen_[code];
    if (it->second.nth != 0 && it->second.nth != n) return false;
    *how = it->second.how;
    return true;
}

bool FlashDriver::Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                         uint32_t* returned) {
    // Every request of this driver uses one buffer for both directions.
    if (in_size != out_size) return false;
    Failure how = Failure::kReturnFalse;
    const bool refused = Refused(code, &how);
    if (refused && how == Failure::kReturnFalse) return false;
    const uint32_t count = refused && how == Failure::kShortCount ? out_size - 1 : out_size;
    const bool bad_status = refused && how == Failure::kStatus;
    std::memcpy(out, in, out_size);

    switch (code) {
    case flashdrv::kCodeVersion: {
        if (out_size != 2) return false;
        out[0] = static_cast<uint8_t>(version_);
        out[1] = static_cast<uint8_t>(version_ >> 8);
        break;
    }
    case flashdrv::kCodeInfo: {
        if (out_size != sizeof(InfoBlock)) return false;
        InfoBlock info;
        std::memcpy(&info, out, sizeof info);
        std::memcpy(info.driverArea, "TOLV", 4);
        info.cardsFound = 0;
        info.recordCount = static_cast<uint16_t>(record_count_ >= 0 ? record_count_ : static_cast<int>(cards_.size()));
        info.status = bad_status ? 1 : info_status_;
        std::memcpy(out, &info, sizeof info);
        break;
    }
    case flashdrv::kCodeLookup:
    case flashdrv::kCodeConfig:
    case flashdrv::kCodeVariant:
    case flashdrv::kCodeErase:
    case flashdrv::kCodeBegin:
    case flashdrv::kCodeEnd: {
        if (out_size != sizeof(CardRecord)) return false;
        CardRecord record;
        std::memcpy(&record, out, sizeof record);
        State* s = Find(record.name, sizeof record.name);
        if (code == flashdrv::kCodeLookup) {
            record.lookupStatus = s && !bad_status ? 0 : 1;
            if (s && !bad_status) {
                const Card& c = s->card;
                record.identity = flashdrv::IdentityWord(c.id);
                if (c.configuration >= 0) record.identity = (record.identity & ~1u) | (c.configuration & 1);
                std::memcpy(record.nodeAddress, c.node, sizeof record.nodeAddress);
                std::memcpy(record.tuple88, c.values88, sizeof record.tuple88);
                record.tuple44First = c.serialFirst;
                record.tuple44Second = c.serialSecond;
            }
        } else if (code == flashdrv::kCodeConfig) {
            record.lookupStatus = s && !bad_status ? 0 : 1;
        } else if (code == flashdrv::kCodeVariant) {
            record.variant = s && !bad_status ? s->card.variant : 0;
        } else if (code == flashdrv::kCodeErase) {
            if (s && !bad_status) {
                s->flash.clear();
                s->cis.clear();
                ++s->erases;
                record.eraseStatus = 0;
            } else {
                record.eraseStatus = 1;
            }
        } else if (s) {
            s->flashing = code == flashdrv::kCodeBegin;
        }
        std::memcpy(out, &record, sizeof record);
        break;
    }
    case flashdrv::kCodeWrite:
    case flashdrv::kCodeWriteCis: {
        if (out_size != sizeof(WriteRequest)) return false;
        WriteRequest request;
        std::memcpy(&request, out, sizeof request);
        State* s = Find(request.card.name, sizeof request.card.name);
        if (!s || bad_status || request.length > flashdrv::kBlockSize || !s->flashing) {
            request.status = 1;
        } else {
            std::map<uint32_t, uint8_t>& image = code == flashdrv::kCodeWrite ? s->flash : s->cis;
            for (uint32_t i = 0; i < request.length; ++i) image[request.address + i] = request.data[i];
            request.status = 0;
        }
        std::memcpy(out, &request, sizeof request);
        break;
    }
    default:
        return false;
    }
    *returned = count;
    return true;
}

}  // namespace standins
