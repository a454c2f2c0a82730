// Stand-in of the maker's flash driver "\\.\Tollivar.VXD" (tests only): the version (1), the
// information block (10), the card record requests (4 lookup, 9 configuration, 11 variant,
// 7 erase, 17 begin, 18 end) and the block writes (5 into flash memory, 16 into the CIS memory of
// a card with id 0x1146). It keeps a flash memory image and a CIS memory image per card, and
// records every request with its buffer as sent (DriverStandin::requests()).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cardflash/flash/flash_engine_format.h"
#include "standins/drivers.h"

namespace standins {

class FlashDriver : public DriverStandin {
public:
    struct Card {
        uint16_t id = 0x1143;
        int configuration = -1;   // bit 0 of the identity word; -1: as the id gives it (its bit 8)
        uint8_t variant = 1;
        uint16_t node[6] = {0x00, 0x40, 0xF4, 0x11, 0x22, 0x33};
        uint16_t values88[8] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
        uint32_t serialFirst = 0x00C300C1;   // tuple 0x44, first value
        uint32_t serialSecond = 0x00D400D2;  // tuple 0x44, second value
    };

    // How a refused request fails.
    enum class Failure {
        kReturnFalse,  // the request fails
        kShortCount,   // it succeeds but reports fewer bytes than its buffer
        kStatus,       // it answers with a non-zero status (lookup, configuration, erase, writes)
    };

    void SetVersion(uint16_t version);
    void SetInfoStatus(uint16_t status);     // status the information block answers with
    void SetRecordCount(int count);          // records to prepare; -1 (default): the cards known
    void AddCard(const std::string& name, const Card& card);
    // The `nth` request (1-based; 0: every one) of `code` from now on fails in the given way.
    void Refuse(uint32_t code, Failure how, int nth = 0);

    // Memory images: address -> byte, as written since the last erase.
    std::map<uint32_t, uint8_t> Flash(const std::string& card) const;
    std::map<uint32_t, uint8_t> Cis(const std::string& card) const;
    int erases(const std::string& card) const;
    bool flashing(const std::string& card) const;  // begun and not ended
    std::vector<uint32_t> codes() const;           // the codes of the requests, in order

    // The bytes at addresses [from, from + length) of an image; missing bytes read as 0xFF.
    static std::vector<uint8_t> Range(const std::map<uint32_t, uint8_t>& image, uint32_t from, size_t length);

protected:
    bool Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                uint32_t* returned) override;

private:
    struct State {
        Card card;
        std::map<uint32_t, uint8_t> flash, cis;
        int erases = 0;
        bool flashing = false;
    };
    struct Refusal {
        Failure how;
        int nth;
    };
    State* Find(const char* name, size_t size);
    bool Refused(uint32_t code, Failure* how);

    uint16_t version_ = flashdrv::kDriverVersion;
    uint16_t info_status_ = 0;
    int record_count_ = -1;
    std::map<std::string, State> cards_;
    std::map<uint32_t, Refusal> refusals_;
    std::map<uint32_t, int> seen_;
};

}  // namespace standins
