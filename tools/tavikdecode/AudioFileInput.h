// Reads an audio file (or a stream on standard input) through libsndfile and hands
// out its samples one channel at a time, in the byte layout of the packing mode
// that matches the file's own sample format, so the meter's sample conversion
// does the work:
//   16-bit integer (and 8-bit, u-law, A-law, ...)  -> 16 bits, PACKING_MODE_NOT_USED (3)
//   24-bit integer                                 -> 24 bits, THREE_BYTES_LITTLE_ENDIAN (0)
//   32-bit integer                                 -> 32 bits, FOUR_BYTES_INT32 (5)
//   float, double and lossy formats                -> 32 bits, FOUR_BYTES_FLOAT (4)
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audiocore/SampleConversion.h"

class AudioFileInput {
public:
    static constexpr int kMinChannels = 1;
    static constexpr int kMaxChannels = 16;
    static constexpr int kMinRate = 8000;
    static constexpr int kMaxRate = 192000;

    AudioFileInput() = default;
    ~AudioFileInput();
    AudioFileInput(const AudioFileInput&) = delete;
    AudioFileInput& operator=(const AudioFileInput&) = delete;

    // Opens `path`; "-" reads a stream from standard input. Checks that the file
    // is complete (a data chunk longer than the file is refused as truncated),
    // that it has 1 to 16 channels and a rate of 8000 to 192000 Hz. On failure
    // returns false and puts a one-line reason into *error.
    bool Open(const std::string& path, std::string* error);

    // Reads up to `frames` frames. channelData[c] receives the bytes of channel c
    // (frames read x BytesPerSample()). Returns the number of frames read, 0 at the
    // end of the input, -1 on a read error (reason in *error).
    long Read(long frames, std::vector<std::vector<uint8_t>>& channelData, std::string* error);

    int Channels() const { return info_.channels; }
    int SampleRate() const { return info_.samplerate; }
    // Frames announced by the header; -1 when unknown (a stream on standard input).
    int64_t Frames() const { return frames_; }
    uint16_t BitsPerSample() const { return bits_; }
    int BytesPerSample() const { return bits_ / 8; }
    Kelvane::AudioCore::ePackingMode PackingMode() const { return packing_; }
    // "WAV 24-bit" style description for diagnostics.
    std::string Description() const;
    const std::string& Path() const { return path_; }
    bool IsStdin() const { return path_ == "-"; }

private:
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    std::string path_;
    int64_t frames_ = -1;
    uint16_t bits_ = 16;
    Kelvane::AudioCore::ePackingMode packing_ = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
    std::vector<int16_t> shorts_;
    std::vector<int32_t> ints_;
    std::vector<float> floats_;
};
