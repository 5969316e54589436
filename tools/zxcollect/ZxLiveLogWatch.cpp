#include "ZxLiveLogWatch.h"

#include <cstdlib>
#include <fstream>

namespace {

// Reads at most this much per look, so a log that grew a lot costs one bounded step.
constexpr std::size_t kReadLimit = 1 << 20;
constexpr char kMarker[] = " link dropped ";

} // namespace

ZxLiveLogWatch::ZxLiveLogWatch(std::string path) : path_(std::move(path)) {}

void ZxLiveLogWatch::poll() {
    if (path_.empty()) {
        return;
    }
    std::ifstream file(path_, std::ios::binary | std::ios::ate);
    if (!file) {
        return;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(file.tellg());
    if (size < offset_) {
        offset_ = 0; // rotated: a new file under the same name
        partial_.clear();
    }
    std::string chunk(static_cast<std::size_t>(std::min<std::uint64_t>(size - offset_, kReadLimit)), '\0');
    file.seekg(static_cast<std::streamoff>(offset_));
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    offset_ += static_cast<std::uint64_t>(file.gcount());
    partial_.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
    std::size_t start = 0;
    for (std::size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n', start)) {
        takeLine(partial_.substr(start, end - start));
        start = end + 1;
    }
    partial_.erase(0, start);
}

// "<date> <time> [W] [<thread>] Device<N> link dropped <counts>"
void ZxLiveLogWatch::takeLine(const std::string& line) {
    const std::size_t marker = line.find(kMarker);
    const std::size_t device = line.rfind("Device", marker);
    if (marker == std::string::npos || device == std::string::npos) {
        return;
    }
    const unsigned long number = std::strtoul(line.c_str() + device + 6, nullptr, 10);
    losses_[static_cast<std::uint32_t>(number)] = line.substr(0, 26) + ": " + line.substr(marker + 1);
}

std::string ZxLiveLogWatch::lossesOf(std::uint32_t device) const {
    const auto found = losses_.find(device);
    return found == losses_.end() ? std::string() : found->second;
}
