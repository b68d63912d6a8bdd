#include "tools/tavik-measure/SpeechHost.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace measure {

namespace {

// Rendering settings are part of the folder name, so a changed clip list
// never mixes with clips of an older one.
constexpr const char* kVersion = "speech-v1";
constexpr int kClips = 48;
constexpr int kRate = 48000;

struct Language {
    const char* voice;
    std::vector<const char*> texts;
};

const std::vector<Language>& Languages() {
    static const std::vector<Language> langs = {
        {"en-us",
         {"Good evening, and welcome to the late news. Our top story tonight concerns the "
          "flooding along the river valley, where hundreds of homes remain without power.",
          "The weather for tomorrow: cloudy in the morning, with rain spreading from the west "
          "by the afternoon. Highs of twelve degrees, lows near four.",
          "And that was a fine goal in the eighty-third minute, the visitors now lead two to "
          "one, and the crowd is on its feet.",
          "Traffic update. Expect delays on the northern ring road after an accident near exit "
          "fourteen. Two lanes are closed in both directions.",
          "Thank you for calling. Your call is important to us. Please hold the line and an "
          "agent will be with you shortly.",
          "Shares closed higher today after the central bank left interest rates unchanged, "
          "while the currency slipped against the dollar."}},
        {"en-gb",
         {"It is seven o'clock. Here are the headlines. The government has announced a review "
          "of rail fares, to be published in the spring.",
          "Well, I think what people really want is a straight answer. Do you accept that the "
          "figures were wrong? Yes or no?",
          "Now, if you have just joined us, we are talking about gardening in small spaces. "
          "Our first caller is Margaret, from the coast. Go ahead, Margaret.",
          "The match was abandoned at half time because of a waterlogged pitch, and will be "
          "played again next Wednesday evening."}},
        {"en-gb-scotland",
         {"Coming up after the break, an interview with the author of this year's prize "
          "winning novel, and the best of the weekend's live music.",
          "Police are appealing for witnesses after a van was stolen from a car park in the "
          "town centre early on Sunday morning."}},
        {"de",
         {"Guten Abend, meine Damen und Herren. Die Nachrichten des Tages: Der Bundestag hat "
          "heute über den Haushalt für das kommende Jahr beraten.",
          "Und nun das Wetter. Morgen zunächst freundlich, im Laufe des Tages von Westen her "
          "Regen, Höchstwerte um zehn Grad."}},
        {"fr-fr",
         {"Bonsoir et bienvenue. Ce soir, nous parlons des élections régionales et des "
          "résultats attendus dans les grandes villes.",
          "La circulation est dense sur le périphérique, prévoyez une demi-heure de plus pour "
          "rejoindre le centre."}},
        {"es",
         {"Buenas noches. Comenzamos el informativo con la última hora sobre el temporal que "
          "afecta a la costa norte del país.",
          "El partido termina con empate a dos, un resultado que deja a ambos equipos lejos de "
          "los puestos de cabeza."}},
        {"it",
         {"Buonasera, questo è il giornale radio. In apertura, le notizie sulla riforma delle "
          "pensioni discussa oggi in parlamento."}},
        {"nl",
         {"Goedemiddag, dit is het nieuws. Het kabinet heeft vandaag nieuwe maatregelen "
          "aangekondigd om de woningmarkt te helpen."}},
    };
    return langs;
}

const char* const kVariants[] = {"",    "+m1", "+m2", "+m3", "+m4", "+m5", "+m6",
                                 "+m7", "+f1", "+f2", "+f3", "+f4", "+f5"};

std::string ClipPath(const std::string& dir, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "/clip-%02d.wav", i);
    return dir + "/" + kVersion + name;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool HaveProgram(const char* name) {
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

}  // namespace

bool SpeechLibrary::Prepare(const std::string& cacheDir, std::string* why) {
    const std::string dir = cacheDir + "/" + kVersion;
    if (Exists(dir + "/complete")) return true;
    for (const char* tool : {"espeak-ng", "sox"}) {
        if (!HaveProgram(tool)) {
            *why = std::string(tool) + " not found (scripts/install-deps.sh installs it)";
            return false;
        }
    }
    if (std::system(("mkdir -p '" + dir + "'").c_str()) != 0) {
        *why = "cannot create " + dir;
        return false;
    }
    std::fprintf(stderr, "tavikmeasure: rendering %d speech clips into %s\n", kClips, dir.c_str());
    const auto& langs = Languages();
    for (int i = 0; i < kClips; ++i) {
        // Every third clip in another language; the rest English in three accents.
        const Language& lang = i % 3 == 2 ? langs[3 + (i / 3) % (langs.size() - 3)]
                                          : langs[size_t(i / 3 + i % 3) % 3];
        const size_t n = lang.texts.size();
        const std::string text = std::string(lang.texts[size_t(i) % n]) + " " +
                                 lang.texts[size_t(i * 7 + 3) % n];
        const std::string textFile = dir + "/text.txt", raw = dir + "/raw.wav";
        std::ofstream(textFile) << text << "\n";
        const int speed = 110 + (i * 37) % 120;  // words per minute
        const int pitch = 15 + (i * 29) % 70;
        const std::string voice = std::string(lang.voice) + kVariants[(i * 5) % 13];
        const std::string cmd = "espeak-ng -v '" + voice + "' -s " + std::to_string(speed) +
                                " -p " + std::to_string(pitch) + " -f '" + textFile + "' -w '" +
                                raw + "' && sox -q '" + raw + "' -r 48000 -c 1 -b 16 '" +
                                ClipPath(cacheDir, i) + "'";
        if (std::system(cmd.c_str()) != 0) {
            *why = "rendering a clip failed: " + cmd;
            return false;
        }
    }
    std::remove((dir + "/text.txt").c_str());
    std::remove((dir + "/raw.wav").c_str());
    std::ofstream(dir + "/complete") << kClips << "\n";
    return true;
}

bool SpeechLibrary::Load(const std::string& cacheDir, std::string* why) {
    clips_.clear();
    for (int i = 0; i < kClips; ++i) {
        const std::string path = ClipPath(cacheDir, i);
        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        if (f == nullptr || info.samplerate != kRate || info.channels != 1) {
            if (f != nullptr) sf_close(f);
            *why = path + ": not a 48 kHz mono clip";
            return false;
        }
        std::vector<float> clip(size_t(info.frames));
        const sf_count_t got = sf_readf_float(f, clip.data(), info.frames);
        sf_close(f);
        clip.resize(size_t(got > 0 ? got : 0));
        const double rms = Kelvane::Generators::SignalMix::Rms(clip);
        if (rms <= 0) continue;
        for (float& v : clip) v = float(v * 0.1 / rms);
        clips_.push_back(std::move(clip));
    }
    if (clips_.empty()) {
        *why = "no speech clips in " + cacheDir;
        return false;
    }
    return true;
}

SpeechStream::SpeechStream(const SpeechLibrary& library, double rms, double bedDb, uint32_t seed)
    : lib_(library), gain_(float(rms / 0.1 * 1.15)), rng_(0x2545F4914F6CDD1Dull ^ seed) {
    // 1.15: pauses between utterances take about a quarter of the time.
    if (bedDb > -200)
        bed_ = std::make_unique<Kelvane::Generators::HostStream>(
            Kelvane::Generators::HostKind::PinkNoise, rms * std::pow(10.0, bedDb / 20.0),
            seed ^ 0x5eed);
}

void SpeechStream::Schedule() {
    auto next = [this] {
        rng_ ^= rng_ >> 12;
        rng_ ^= rng_ << 25;
        rng_ ^= rng_ >> 27;
        return double((rng_ * 0x2545F4914F6CDD1Dull) >> 11) / 9007199254740992.0;
    };
    const auto& clips = lib_.Clips();
    const auto& clip = clips[size_t(next() * double(clips.size())) % clips.size()];
    // Utterances at -4 to +2 dB around the level; a second speaker starts
    // during this one now and then (an interview, a talk over).
    const float g = float(std::pow(10.0, (next() * 6.0 - 4.0) / 20.0));
    talking_.push_back({&clip, 0, g});
    const double pause = 0.1 + next() * 1.1;
    std::size_t wait = clip.size() + std::size_t(pause * kRate);
    if (next() < 0.2) wait = std::size_t(double(clip.size()) * (0.3 + 0.5 * next()));
    untilNext_ = wait;
}

void SpeechStream::Render(float* out, std::size_t count) {
    if (bed_) {
        bed_->Render(out, count);
    } else {
        for (std::size_t i = 0; i < count; ++i) out[i] = 0.0f;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (untilNext_ == 0) Schedule();
        --untilNext_;
        float v = 0.0f;
        for (std::size_t k = 0; k < talking_.size();) {
            Talk& t = talking_[k];
            v += t.gain * (*t.clip)[t.pos++];
            if (t.pos >= t.clip->size()) {
                talking_.erase(talking_.begin() + long(k));
            } else {
                ++k;
            }
        }
        out[i] += gain_ * v;
    }
}

}  // namespace measure
