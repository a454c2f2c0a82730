#include "portbridge/stack/serial_frame.h"

namespace stack {

uint8_t serialHeaderSum(uint16_t length) {
    return static_cast<uint8_t>(kSerialFlag + kSerialFlag + (length & 0xFF) + (length >> 8));
}

uint8_t serialPayloadSum(const uint8_t* data, size_t size) {
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

bool encodeSerialFrame(uint8_t* buffer, size_t bufferSize, size_t dataOffset, size_t dataLength,
                       size_t* frameStart, size_t* frameLength) {
    if (!buffer || dataOffset < kSerialHeader || dataOffset > bufferSize) return false;
    if (dataLength > bufferSize - dataOffset || bufferSize - dataOffset - dataLength < kSerialTrailer) return false;
    if (dataLength + 1 > 0xFFFF) return false;
    uint16_t length = static_cast<uint16_t>(dataLength + 1);
    uint8_t* payload = buffer + dataOffset;
    payload[dataLength] = serialPayloadSum(payload, dataLength);
    uint8_t* h = payload - kSerialHeader;
    h[0] = kSerialFlag;
    h[1] = kSerialFlag;
    h[2] = static_cast<uint8_t>(length & 0xFF);
    h[3] = static_cast<uint8_t>(length >> 8);
    h[4] = serialHeaderSum(length);
    if (frameStart) *frameStart = dataOffset - kSerialHeader;
    if (frameLength) *frameLength = kSerialHeader + dataLength + kSerialTrailer;
    return true;
}

uint8_t* CSerialFrameReceiver::releaseBuffer() {
    uint8_t* b = buffer_;
    buffer_ = nullptr;
    capacity_ = 0;
    state_ = 0;
    return b;
}

void CSerialFrameReceiver::feed(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        switch (state_) {
        case 0:
            if (c == kSerialFlag) state_ = 1;
            break;
        case 1:
            state_ = c == kSerialFlag ? 2 : 0;
            break;
        case 2:
            length_ = c;
            state_ = 3;
            break;
        case 3:
            length_ = static_cast<uint16_t>(length_ | c << 8);
            state_ = 0;
            if (length_ == 0) {
                ++counters_.emptyLength;
                break;
            }
            if (length_ > maxLength_) {
                ++counters_.tooLong;
                break;
            }
            if (!buffer_) buffer_ = sink_.takeBuffer(&capacity_);
            if (!buffer_) {
                ++counters_.noBuffer;
                break;
            }
            if (capacity_ < headerRoom_ || capacity_ - headerRoom_ < length_) {
                ++counters_.tooLong;
                break;
            }
            state_ = 4;
            break;
        case 4:
            if (c != serialHeaderSum(length_)) {
                ++counters_.badHeaderSums;
                state_ = c == kSerialFlag ? 1 : 0;
                break;
            }
            got_ = 0;
            state_ = 5;
            break;
        case 5: {
            buffer_[headerRoom_ + got_++] = c;
            if (got_ < length_) break;
            state_ = 0;
            const uint8_t* payload = buffer_ + headerRoom_;
            const size_t n = static_cast<size_t>(length_) - 1;
            if (serialPayloadSum(payload, n) != payload[n]) {
                ++counters_.badPayloadSums;
                break;
            }
            ++counters_.frames;
            uint8_t* b = buffer_;
            buffer_ = nullptr;
            capacity_ = 0;
            sink_.frame(b, headerRoom_, n);
            break;
        }
        default:
            state_ = 0;
            break;
        }
    }
}

}  // namespace stack
