// The simulated modem card and its ISDN add-on as a state machine over bytes: what arrives on the
// serial line goes in, the reply bytes come out. No Windows header; the serial side is in
// modemsim.h.
//
// Modes: the modem's AT command mode, the add-on's configuration mode (after ATCONF), the boot
// loader waiting for its mode code and taking an image (after AT&&XX), and the add-on's flash mode
// (after AT**Flash, an XMODEM-1K receiver). The last three take raw bytes, not lines.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "simulators/modem/modemlayout.h"

namespace modemsim {

// Everything a test can set. Defaults describe a plain PSTN modem card without the add-on.
struct ModemState {
    // The modem card.
    std::string modemTitle = "Dorvex 56K PC Card Modem";   // ATI0 (and ATI3) without the add-on
    std::string firmwareVersion = "1.80";                   // AT+GMR
    std::string manufacturer = "Dorvex Inc.";               // AT+GMI, ATI4 without the add-on
    std::string moduleId = "CPST";                          // AT!XMA
    std::string identity = "SB2 56K V.90";                  // ATI5
    std::string cableTypes = "PSTN,AMPS";                   // AT!XCBL=?; empty answers ERROR
    int countryCode = 0x3D;                                 // AT+GCI?
    std::vector<int> countries = {0x20, 0x3D, 0xB5};        // AT+GCI=?; AT+GCI=XX takes only these
    std::vector<uint8_t> cis = std::vector<uint8_t>(256, 0xFF);  // AT!XCIS
    std::vector<uint8_t> savedSettings = {0x01, 0x4B, 0x32, 0x00, 0x10, 0x20, 0x30, 0x40};  // AT!XSAVE; byte 1 is the board code
    std::vector<ReportItem> callReport;                     // AT!XUD
    std::vector<ReportItem> moduleInfo;                     // AT!XMI
    bool bootLoaderActive = false;                          // every command: "ERROR: BOOT LOADER ACTIVE"

    // The ISDN add-on, when plugged in: it answers ATI0 and the AT** and configuration commands,
    // and ERROR to the modem's own identity and report commands.
    bool addOn = false;
    std::string addOnName = "ISDN Tamrisk";                 // ATI0
    std::string addOnVersion = "2.10";                      // ATI3, shown with a leading "V"
    std::string addOnManufacturer = "DORVEX, INC.";         // ATI4
    std::string trace;                                      // TRCREAD; AT**TRCCLR empties it
    std::string traceMask;                                  // the digits of the last AT**TRCMSK=

    // Behaviour on the line.
    bool echo = true;                      // ATE1 / ATE0V1; ATZ&F&W turns it on again
    bool mute = false;                     // takes commands, answers nothing
    bool answerError = false;              // answers every command with ERROR
    std::set<std::string> errorCommands;   // upper-case commands (without "\r") answered ERROR
    size_t chunkSize = 0;                  // answer in pieces of this many bytes (0: at once)
    unsigned gapMs = 0;                    // pause between pieces

    // The boot loader (after AT&&XX): it takes "tirak\r", then `bootImageSize` raw bytes, checks
    // the 16-bit sum in the image's last two bytes and restarts the modem with `bootNewVersion`.
    // After an error word it says "UPLOAD" again (unless `bootSilentAfterError`) and waits for a
    // new mode code.
    struct BootFault {
        int start;          // the upload (1 = the first mode code) ...
        size_t block;       // ... and its block (0 = the first 1024 bytes) after which the word comes
        std::string word;   // "CHECKSUM ERROR\r\n", any case
        bool split;         // the word in two writes
    };
    size_t bootImageSize = 0;
    std::string bootNewVersion = "1.90";
    std::vector<BootFault> bootFaults;
    bool bootSilentAfterError = false;

    // The add-on's flash mode (after "AT**Flash\r"): an XMODEM-1K receiver that asks with
    // `addOnStartByte` every quarter of a second (ModemEngine::kStartRequestMs) until the first
    // packet; then `addOnNewVersion` is its version. Packets are counted from 1 as they arrive,
    // repeats included.
    std::string addOnNewVersion = "2.20";
    uint8_t addOnStartByte = 'C';
    std::set<int> addOnNakPackets;      // answered NAK whatever they hold
    std::set<int> addOnSilentPackets;   // taken, but their ACK is lost
    unsigned addOnAckDelayMs = 0;       // a slow card: the pause before each answer in flash mode

    // Pacing at a line rate (bit/s, 10 bits a byte; 0: as fast as the pty goes): the simulator
    // takes the wire time of what it receives and of what it sends.
    unsigned paceBitRate = 0;

    // What happened (read by tests).
    int factoryResets = 0;                 // ATZ&F&W received
    int bootStarts = 0;                    // mode codes the boot loader took
    std::vector<uint8_t> bootReceived;     // the image bytes of the latest start
    bool bootFlashed = false;              // a whole image with a right sum was taken
    std::vector<uint8_t> addOnReceived;    // the blocks stored, padding included
    int addOnPackets = 0;                  // packets received, repeats included
    bool addOnAborted = false;             // CAN ended flash mode
    bool addOnFlashed = false;             // EOT ended it after at least one block
};

class ModemEngine {
public:
    enum class Mode { Command, AddOnConfig, BootLoader, BootUpload, AddOnFlash };
    // How often the add-on's receiver asks for the first packet: often enough that a sender that
    // clears its queue before it looks for the request does not wait long for the next one.
    static constexpr unsigned long kStartRequestMs = 250;

    explicit ModemEngine(ModemState state = ModemState()) : state_(std::move(state)) {}

    // The reply to `bytes`; empty while a command is incomplete or the modem is mute.
    std::string Feed(const std::string& bytes);
    // The same reply as the separate writes the card makes (a split error word is two).
    std::vector<std::string> FeedPieces(const std::string& bytes);
    // What the card says of its own accord at `nowMs` (the add-on's start requests).
    std::string Tick(unsigned long nowMs);

    ModemState& state() { return state_; }
    const ModemState& state() const { return state_; }
    Mode mode() const { return mode_; }
    // Every complete command line received, as received (without its "\r").
    const std::vector<std::string>& commands() const { return commands_; }

private:
    std::string Line(const std::string& line);
    std::string Command(const std::string& upper);
    std::string AddOnCommand(const std::string& upper, bool& handled);
    std::string ConfigLine(const std::string& upper);
    void BootByte(uint8_t byte);
    void BootBlockDone(size_t block);
    void FlashByte(uint8_t byte);
    void FlashPacket();
    void Emit(const std::string& text) { pieces_.back() += text; }
    void EmitSeparately(const std::string& text);

    ModemState state_;
    Mode mode_ = Mode::Command;
    std::string pending_;
    std::vector<std::string> commands_;
    std::vector<std::string> pieces_;
    std::string codeWindow_;        // the boot loader's last bytes, to see the mode code among them
    std::vector<uint8_t> packet_;   // the XMODEM packet being received
    uint8_t expectedBlock_ = 1;
    bool flashStarted_ = false;
    unsigned long lastStartMs_ = 0;
    bool startDue_ = true;
    bool flashReadyDue_ = false;
};

}  // namespace modemsim
