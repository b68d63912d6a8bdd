#include "tools/tavikdecode/AudioFileInput.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

using Kelvane::AudioCore::ePackingMode;

namespace {

// libsndfile accepts a WAV or AIFF file whose data chunk runs past the end of
// the file and silently shortens it; its log then holds a line such as
// "data : 96000 (should be 49956)". Such a file was cut off in transfer or
// while being written, and decoding it would look like a complete recording,
// so it is refused. Sizes 0 and 0xFFFFFFFF are the placeholders streaming
// writers leave behind and are not a sign of truncation.
bool LogShowsTruncation(SNDFILE* file, std::string* detail) {
    char log[8192] = {0};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    const char* line = log;
    while (line != nullptr && *line != '\0') {
        const char* next = std::strchr(line, '\n');
        std::string text(line, next ? static_cast<size_t>(next - line) : std::strlen(line));
        char chunk[16] = {0};
        unsigned long long declared = 0, actual = 0;
        if (std::sscanf(text.c_str(), " %15s : %llu (should be %llu)", chunk, &declared, &actual) ==
                3 &&
            (std::strcmp(chunk, "data") == 0 || std::strcmp(chunk, "SSND") == 0) &&
            declared > actual && declared != 0xFFFFFFFFull && declared != 0x7FFFFFFFull) {
            char buffer[128];
            std::snprintf(buffer, sizeof buffer, "%s chunk declares %llu bytes, file holds %llu",
                          chunk, declared, actual);
            *detail = buffer;
            return true;
        }
        line = next ? next + 1 : nullptr;
    }
    return false;
}

}  // namespace

AudioFileInput::~AudioFileInput() {
    if (file_ != nullptr) sf_close(file_);
}

bool AudioFileInput::Open(const std::string& path, std::string* error) {
    path_ = path;
    info_ = SF_INFO{};
    if (path == "-") {
        file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info_, SF_FALSE);
    } else {
        file_ = sf_open(path.c_str(), SFM_READ, &info_);
    }
    if (file_ == nullptr) {
        *error = std::string("cannot read audio: ") + sf_strerror(nullptr);
        return false;
    }
    std::string detail;
    if (!IsStdin() && LogShowsTruncation(file_, &detail)) {
        *error = "truncated file: " + detail;
        return false;
    }
    if (info_.channels < kMinChannels || info_.channels > kMaxChannels) {
        *error = "unsupported channel count " + std::to_string(info_.channels) + " (1 to 16)";
        return false;
    }
    if (info_.samplerate < kMinRate || info_.samplerate > kMaxRate) {
        *error =
            "unsupported sample rate " + std::to_string(info_.samplerate) + " Hz (8000 to 192000)";
        return false;
    }
    frames_ = info_.frames >= 0 ? info_.frames : -1;
    if (info_.seekable == 0) {
        // A stream's length comes from its header alone. Writers that cannot
        // seek back leave a placeholder size there (all bits set), which reads
        // as about 4 GB of data: such a stream has no known length.
        int container = 0;
        switch (info_.format & SF_FORMAT_SUBMASK) {
            case SF_FORMAT_PCM_S8:
            case SF_FORMAT_PCM_U8:
                container = 1;
                break;
            case SF_FORMAT_PCM_16:
                container = 2;
                break;
            case SF_FORMAT_PCM_24:
                container = 3;
                break;
            case SF_FORMAT_PCM_32:
            case SF_FORMAT_FLOAT:
                container = 4;
                break;
            case SF_FORMAT_DOUBLE:
                container = 8;
                break;
            default:
                break;
        }
        const long double bytes =
            static_cast<long double>(info_.frames) * info_.channels * container;
        if (container == 0 || info_.frames <= 0 || bytes >= 0xFFFFFF00p0L) frames_ = -1;
    }

    switch (info_.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_24:
            bits_ = 24;
            packing_ = Kelvane::AudioCore::THREE_BYTES_LITTLE_ENDIAN;
            break;
        case SF_FORMAT_PCM_32:
            bits_ = 32;
            packing_ = Kelvane::AudioCore::FOUR_BYTES_INT32;
            break;
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
            bits_ = 32;
            packing_ = Kelvane::AudioCore::FOUR_BYTES_FLOAT;
            break;
        default:  // 16-bit and everything narrower
            bits_ = 16;
            packing_ = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
            break;
    }
    return true;
}

std::string AudioFileInput::Description() const {
    SF_FORMAT_INFO major{};
    major.format = info_.format & SF_FORMAT_TYPEMASK;
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major);
    const char* sample = "16-bit";
    switch (packing_) {
        case Kelvane::AudioCore::THREE_BYTES_LITTLE_ENDIAN:
            sample = "24-bit";
            break;
        case Kelvane::AudioCore::FOUR_BYTES_INT32:
            sample = "32-bit integer";
            break;
        case Kelvane::AudioCore::FOUR_BYTES_FLOAT:
            sample = "float";
            break;
        default:
            break;
    }
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%s, %d channel%s, %d Hz, %s (packing mode %d)",
                  major.name ? major.name : "audio", info_.channels, info_.channels == 1 ? "" : "s",
                  info_.samplerate, sample, static_cast<int>(packing_));
    return buffer;
}

long AudioFileInput::Read(long frames, std::vector<std::vector<uint8_t>>& channelData,
                          std::string* error) {
    const int channels = info_.channels;
    const size_t samples = static_cast<size_t>(frames) * static_cast<size_t>(channels);
    sf_count_t got = 0;
    switch (packing_) {
        case Kelvane::AudioCore::PACKING_MODE_NOT_USED:
            shorts_.resize(samples);
            got = sf_readf_short(file_, shorts_.data(), frames);
            break;
        case Kelvane::AudioCore::FOUR_BYTES_FLOAT:
            floats_.resize(samples);
            got = sf_readf_float(file_, floats_.data(), frames);
            break;
        default:  // 24-bit and 32-bit integers arrive left-justified in 32 bits
            ints_.resize(samples);
            got = sf_readf_int(file_, ints_.data(), frames);
            break;
    }
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
        *error = std::string("read error: ") + sf_strerror(file_);
        return -1;
    }
    const size_t n = static_cast<size_t>(got);
    const int width = BytesPerSample();
    channelData.resize(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        std::vector<uint8_t>& out = channelData[static_cast<size_t>(c)];
        out.resize(n * static_cast<size_t>(width));
        // One loop per sample format (the format is fixed for the file), so each runs
        // without a branch per sample. Bytes go out little-endian whatever the host.
        const auto each = [&](auto put) {
            uint8_t* dst = out.data();
            size_t k = static_cast<size_t>(c);
            for (size_t i = 0; i < n; ++i, dst += width, k += static_cast<size_t>(channels))
                put(dst, k);
        };
        switch (packing_) {
            case Kelvane::AudioCore::PACKING_MODE_NOT_USED:
                each([&](uint8_t* dst, size_t k) {
                    const uint16_t v = static_cast<uint16_t>(shorts_[k]);
                    dst[0] = static_cast<uint8_t>(v);
                    dst[1] = static_cast<uint8_t>(v >> 8);
                });
                break;
            case Kelvane::AudioCore::THREE_BYTES_LITTLE_ENDIAN:
                // The 24-bit value sits in the top three bytes.
                each([&](uint8_t* dst, size_t k) {
                    const uint32_t v = static_cast<uint32_t>(ints_[k]);
                    dst[0] = static_cast<uint8_t>(v >> 8);
                    dst[1] = static_cast<uint8_t>(v >> 16);
                    dst[2] = static_cast<uint8_t>(v >> 24);
                });
                break;
            case Kelvane::AudioCore::FOUR_BYTES_FLOAT:
                each([&](uint8_t* dst, size_t k) {
                    uint32_t v;
                    std::memcpy(&v, &floats_[k], 4);
                    for (int b = 0; b < 4; ++b) dst[b] = static_cast<uint8_t>(v >> (8 * b));
                });
                break;
            default:
                each([&](uint8_t* dst, size_t k) {
                    const uint32_t v = static_cast<uint32_t>(ints_[k]);
                    for (int b = 0; b < 4; ++b) dst[b] = static_cast<uint8_t>(v >> (8 * b));
                });
                break;
        }
    }
    return static_cast<long>(n);
}
