#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Header of a frame bitmap, the seven values a bitmap-object query returns. A grabbed camera
// frame is a 32-bit device-dependent bitmap: type 0, planes 1, 32 bits per pixel, bytes per
// row = 4 * width, bits pointer 0, rows top to bottom, each pixel B, G, R, 0.
struct BitmapHeader {
    int32_t bmType = 0;
    int32_t bmWidth = 0;
    int32_t bmHeight = 0;
    int32_t bmWidthBytes = 0;
    uint16_t bmPlanes = 0;
    uint16_t bmBitsPixel = 0;
    uint32_t bmBits = 0;

    bool operator==(const BitmapHeader&) const = default;
};

struct Frame {
    BitmapHeader header;
    std::vector<uint8_t> bits; // bmWidthBytes * bmHeight bytes

    bool empty() const { return bits.empty(); }
};

// The bytes of a shared frame: in ordinary memory, borrowed, or in a memory file that another
// process (the display server) can map, so a camera picture can be shown from where it was
// decoded without a copy.
class FrameBytes {
public:
    struct InMemoryFile {};
    struct Borrowed {};

    FrameBytes() = default;
    explicit FrameBytes(std::vector<uint8_t> bytes);
    FrameBytes(size_t count, uint8_t value) : FrameBytes(std::vector<uint8_t>(count, value)) {}
    FrameBytes(const uint8_t* first, const uint8_t* last)
        : FrameBytes(std::vector<uint8_t>(first, last)) {}
    // Empty; resize() puts the bytes in a memory file where the system gives one, in ordinary
    // memory where it does not.
    explicit FrameBytes(InMemoryFile);
    // Someone else's bytes, which must outlive this.
    FrameBytes(Borrowed, const uint8_t* data, size_t size);
    ~FrameBytes();
    FrameBytes(const FrameBytes&) = delete;
    FrameBytes& operator=(const FrameBytes&) = delete;

    const uint8_t* data() const { return m_data; }
    uint8_t* data() { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const uint8_t* begin() const { return m_data; }
    const uint8_t* end() const { return m_data + m_size; }
    uint8_t* begin() { return m_data; }
    uint8_t* end() { return m_data + m_size; }
    uint8_t operator[](size_t i) const { return m_data[i]; }

    // `size` bytes, the first of the old ones kept. Throws std::bad_alloc when there is no room.
    void resize(size_t size);
    // Hands bytes in ordinary memory over, leaving this empty; nothing for bytes of another kind.
    std::vector<uint8_t> takeVector();

    // The memory file that holds the bytes from memoryFileOffset() on, or -1. Each file the bytes
    // move to has a serial of its own, never used again in this process.
    int memoryFile() const { return m_file; }
    static constexpr size_t memoryFileOffset() { return kFileOffset; }
    uint64_t memoryFileSerial() const { return m_fileSerial; }

private:
    // The bytes start off a 32-byte boundary. TurboJPEG writes rows that start on one with
    // stores that go around the processor's caches, and every frame is read again at once (its
    // fourth bytes cleared, then compared), which is faster from the cache.
    static constexpr size_t kFileOffset = 16;

    void point();
    bool moveToFile(size_t size);
    void dropFile();

    std::vector<uint8_t> m_heap;
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
    bool m_borrowed = false;
    bool m_wantFile = false;
    int m_file = -1;
    uint8_t* m_mapped = nullptr;
    size_t m_mappedSize = 0;
    uint64_t m_fileSerial = 0;
};

// Frame bits shared instead of copied. Whoever made the buffer never writes it again once it is
// handed out this way, so any holder may read it for as long as it keeps the pointer.
using SharedBits = std::shared_ptr<const FrameBytes>;

struct SharedFrame {
    BitmapHeader header;
    SharedBits bits;

    bool empty() const { return !bits || bits->empty(); }
};
