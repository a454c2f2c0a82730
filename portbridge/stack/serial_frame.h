// The serial frame to the terminal adapter: 7E 7E, a 16-bit little-endian length (payload bytes
// plus the payload sum), a header sum, the payload and the payload sum. No byte stuffing: a 7E in
// the payload goes as it is, and the receiver finds frames by the two flags and the header sum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stack {

constexpr uint8_t kSerialFlag = 0x7E;
constexpr size_t kSerialHeader = 5;  // room the frame needs in front of the payload
constexpr size_t kSerialTrailer = 1;

uint8_t serialHeaderSum(uint16_t length);
uint8_t serialPayloadSum(const uint8_t* data, size_t size);

// Frames the payload at buffer[dataOffset, dataOffset + dataLength) in place: the header goes into
// the five bytes in front of it and the payload sum behind it. False (nothing written) when the
// buffer has no room for either or the payload is too long for the length field.
bool encodeSerialFrame(uint8_t* buffer, size_t bufferSize, size_t dataOffset, size_t dataLength,
                       size_t* frameStart, size_t* frameLength);

// Where received frames go. takeBuffer gives a buffer for the next frame (null: none to be had)
// and its capacity; frame hands a good frame over with its buffer (payload at `payloadOffset`).
class SerialFrameSink {
public:
    virtual ~SerialFrameSink() = default;
    virtual uint8_t* takeBuffer(size_t* capacity) = 0;
    virtual void frame(uint8_t* buffer, size_t payloadOffset, size_t payloadLength) = 0;
};

struct SerialReceiveCounters {
    unsigned frames = 0;
    unsigned badHeaderSums = 0;
    unsigned badPayloadSums = 0;
    unsigned tooLong = 0;
    unsigned emptyLength = 0;  // length field 0: not even room for the sum
    unsigned noBuffer = 0;
};

// The receive state machine: 0 wait for 7E, 1 a second 7E, 2 and 3 the length, 4 the header sum,
// 5 the payload and its sum. A frame that fails any check is dropped and the machine waits for
// the next 7E 7E; a buffer of a dropped frame is kept for the next one.
class CSerialFrameReceiver {
public:
    CSerialFrameReceiver(SerialFrameSink& sink, uint16_t maxLength, size_t headerRoom)
        : sink_(sink), maxLength_(maxLength), headerRoom_(headerRoom) {}
    CSerialFrameReceiver(const CSerialFrameReceiver&) = delete;
    CSerialFrameReceiver& operator=(const CSerialFrameReceiver&) = delete;

    void feed(const uint8_t* data, size_t size);
    void reset() { state_ = 0; }
    // Gives the buffer held for the next frame back to the caller (null when none).
    uint8_t* releaseBuffer();
    void setLimits(uint16_t maxLength, size_t headerRoom) {
        maxLength_ = maxLength;
        headerRoom_ = headerRoom;
    }
    int state() const { return state_; }
    const SerialReceiveCounters& counters() const { return counters_; }

private:
    SerialFrameSink& sink_;
    uint16_t maxLength_;
    size_t headerRoom_;
    int state_ = 0;
    uint16_t length_ = 0;
    size_t got_ = 0;
    uint8_t* buffer_ = nullptr;
    size_t capacity_ = 0;
    SerialReceiveCounters counters_;
};

}  // namespace stack
