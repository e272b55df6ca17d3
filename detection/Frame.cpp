#include "detection/Frame.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<uint64_t> g_nextFileSerial{1};

} // namespace

FrameBytes::FrameBytes(std::vector<uint8_t> bytes) : m_heap(std::move(bytes)) {
    point();
}

FrameBytes::FrameBytes(InMemoryFile) : m_wantFile(true) {}

FrameBytes::FrameBytes(Borrowed, const uint8_t* data, size_t size)
    : m_data(const_cast<uint8_t*>(data)), m_size(size), m_borrowed(true) {}

FrameBytes::~FrameBytes() {
    if (m_mapped)
        munmap(m_mapped, m_mappedSize);
    if (m_file >= 0)
        ::close(m_file);
}

void FrameBytes::point() {
    m_data = m_heap.data();
    m_size = m_heap.size();
}

void FrameBytes::resize(size_t size) {
    if (m_file >= 0 && size <= m_mappedSize - kFileOffset) {
        m_size = size;
        return;
    }
    // A file is tried only where the bytes have to move anyway.
    const bool moving = m_file >= 0 || m_borrowed || size > m_heap.capacity();
    if (m_wantFile && moving && moveToFile(size))
        return;
    // Ordinary memory: from the start, when there is no file to be had, or for borrowed bytes,
    // which become a copy of their own.
    if (m_file >= 0 || m_borrowed) {
        std::vector<uint8_t> copy(m_data, m_data + std::min(m_size, size));
        dropFile();
        m_borrowed = false;
        m_heap = std::move(copy);
    }
    m_heap.resize(size);
    point();
}

bool FrameBytes::moveToFile(size_t size) {
    const int file = memfd_create("pawlinex-frame", MFD_CLOEXEC);
    if (file < 0)
        return false;
    // The pages are taken now: a system out of memory says so here, instead of killing the
    // program with a bus error when a page is first written.
    const size_t fileSize = kFileOffset + size;
    void* mapped = posix_fallocate(file, 0, static_cast<off_t>(fileSize)) == 0
                       ? mmap(nullptr, fileSize, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0)
                       : MAP_FAILED;
    if (mapped == MAP_FAILED) {
        ::close(file);
        return false;
    }
    uint8_t* bytes = static_cast<uint8_t*>(mapped) + kFileOffset;
    if (m_size > 0)
        std::memcpy(bytes, m_data, std::min(m_size, size));
    dropFile();
    m_heap = {};
    m_borrowed = false;
    m_file = file;
    m_mapped = static_cast<uint8_t*>(mapped);
    m_mappedSize = fileSize;
    m_fileSerial = g_nextFileSerial.fetch_add(1, std::memory_order_relaxed);
    m_data = bytes;
    m_size = size;
    return true;
}

void FrameBytes::dropFile() {
    if (m_file < 0)
        return;
    munmap(m_mapped, m_mappedSize);
    ::close(m_file);
    m_file = -1;
    m_mapped = nullptr;
    m_mappedSize = 0;
    m_fileSerial = 0;
    m_data = nullptr;
    m_size = 0;
}

std::vector<uint8_t> FrameBytes::takeVector() {
    if (m_file >= 0 || m_borrowed)
        return {};
    std::vector<uint8_t> out = std::move(m_heap);
    m_heap = {};
    point();
    return out;
}
