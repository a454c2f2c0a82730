// Any bytes as the serial line gives them: the frame receiver takes them in pieces of any size,
// never writes outside the buffer it was given, and hands over only frames whose sums are right.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "portbridge/stack/serial_frame.h"

namespace {

class Sink : public stack::SerialFrameSink {
public:
    uint8_t* takeBuffer(size_t* capacity) override {
        // A guard byte behind the buffer shows a write past its end.
        buffer_.assign(kSize + 1, 0xA5);
        *capacity = kSize;
        return buffer_.data();
    }
    void frame(uint8_t* buffer, size_t offset, size_t length) override {
        if (buffer != buffer_.data() || offset + length + 1 > kSize || buffer_[kSize] != 0xA5) std::abort();
        const uint8_t sum = stack::serialPayloadSum(buffer + offset, length);
        if (sum != buffer[offset + length]) std::abort();
        ++frames;
    }
    static constexpr size_t kSize = 64;
    std::vector<uint8_t> buffer_;
    unsigned frames = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Sink sink;
    const uint16_t maxLength = static_cast<uint16_t>(data[0] % 80);
    const size_t room = data[1] % 8;
    stack::CSerialFrameReceiver rx(sink, maxLength, room);
    const size_t piece = data[1] / 8 % 32 + 1;
    for (size_t at = 2; at < size; at += piece) rx.feed(data + at, size - at < piece ? size - at : piece);
    if (!sink.buffer_.empty() && sink.buffer_[Sink::kSize] != 0xA5) std::abort();

    // The same bytes as a payload framed in place: the frame it makes decodes to the payload.
    std::vector<uint8_t> b(size + 6);
    std::memcpy(b.data() + 5, data, size);
    size_t start = 0, length = 0;
    if (!stack::encodeSerialFrame(b.data(), b.size(), 5, size, &start, &length)) std::abort();
    struct Big : stack::SerialFrameSink {
        std::vector<uint8_t> got, buf;
        uint8_t* takeBuffer(size_t* c) override {
            buf.assign(70000, 0);
            *c = buf.size();
            return buf.data();
        }
        void frame(uint8_t* p, size_t off, size_t len) override { got.assign(p + off, p + off + len); }
    } big;
    stack::CSerialFrameReceiver rx3(big, 0xFFFF, 0);
    rx3.feed(b.data() + start, length);
    if (big.got.size() != size || (size && std::memcmp(big.got.data(), data, size) != 0)) std::abort();
    return 0;
}
