// The file decoder's reading of arbitrary files. Byte 0 chooses how the rest
// arrives: bit 0 clear, as a file (opened by path, with the truncation check);
// set, as a stream on standard input. Everything a file yields is converted by
// the meter's sample converter for the file's packing mode, as the decoder
// hands it on.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audiocore/AudioSampleConverterFactory.h"
#include "tools/tavikdecode/AudioFileInput.h"

namespace {

// Whatever a file holds, this many frames show how it reads.
constexpr long kMaxFrames = 1 << 16;
constexpr long kChunk = 4096;

void ReadAll(AudioFileInput& in) {
    Kelvane::AudioCore::AudioSampleConverterFactoryImplementation factory;
    auto converter = factory.make(in.BitsPerSample(), 1, in.PackingMode());
    std::vector<std::vector<uint8_t>> channels;
    std::vector<int16_t> converted;
    std::string error;
    for (long total = 0; total < kMaxFrames;) {
        const long got = in.Read(kChunk, channels, &error);
        if (got <= 0) break;
        if (got > kChunk || channels.size() != size_t(in.Channels())) abort();
        total += got;
        converted.resize(size_t(got));
        for (auto& c : channels) {
            if (c.size() != size_t(got) * size_t(in.BytesPerSample())) abort();
            converter->ConvertInBuffer(c.data(), int(got), converted.data(), false);
        }
    }
    in.Description();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool stream = data[0] & 1;
    ++data;
    --size;
    std::string error;
    if (!stream) {
        static const int fd = memfd_create("fuzz-audio", 0);
        if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) abort();
        static const std::string path = "/proc/self/fd/" + std::to_string(fd);
        AudioFileInput in;
        if (in.Open(path, &error)) ReadAll(in);
        return 0;
    }
    // A stream: the input through a pipe on standard input. MPEG streams are
    // left out: opening a malformed one makes libsndfile 1.2.0 (Debian 12) read
    // a byte before one of its own buffers, a fault of the library that this
    // target would report again and again. MPEG files are still read.
    if (size >= 3 && ((data[0] == 0xff && (data[1] & 0xe0) == 0xe0) ||
                      (data[0] == 'I' && data[1] == 'D' && data[2] == '3')))
        return 0;
    static const int savedStdin = dup(STDIN_FILENO);
    int pipes[2];
    if (pipe(pipes) != 0) abort();
    fcntl(pipes[1], F_SETPIPE_SZ, 1 << 20);
    if (size > size_t(fcntl(pipes[1], F_GETPIPE_SZ))) {
        close(pipes[0]);
        close(pipes[1]);
        return 0;
    }
    if (size > 0 && write(pipes[1], data, size) != ssize_t(size)) abort();
    close(pipes[1]);
    dup2(pipes[0], STDIN_FILENO);
    close(pipes[0]);
    {
        AudioFileInput in;
        if (in.Open("-", &error)) ReadAll(in);
    }
    dup2(savedStdin, STDIN_FILENO);
    return 0;
}
