// Writes audiocore/decimate_tables.cpp: the FIR, IIR and spline tables of the block converters
// (audiocore/decimate.h). Every number comes from a design rule below; run this program again
// after changing a rule and check the result in.
//
//   NyquistHalf / NyquistThird: windowed-sinc low-pass filters, cut-off at 1/2 and 1/3 of the
//     Nyquist frequency (so every 2nd / 3rd tap from the centre is 0), Kaiser window with
//     beta = 0.1102 * (80 - 8.7) (80 dB rule of thumb) spanning two taps more than the filter
//     (its zero end points dropped), taps rounded to multiples of 2^-16.
//   sos_*: 8th-order elliptic low-pass, 0.05 dB passband ripple, 65 dB stopband, passband edge at
//     0.908 of the target Nyquist frequency, bilinear transform; each second-order section pairs
//     the conjugate pole pair and zero pair of one elliptic index (1..4, rising pole Q); sections
//     are cascaded in index order 3, 4, 2, 1 and scaled so that the cumulative response up to
//     every section peaks at exactly 1.
//   Spline pairs: six-point cubic interpolator; output m of a table run lies at input position
//     t = m * in / out; step[m] = floor(t[m+1]) - floor(t[m]), coefficients for the fraction of t,
//     taps at floor(t) - 2 .. floor(t) + 3.
#include <cinttypes>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Cplx = std::complex<double>;

// ---------------------------------------------------------------- FIR design
double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 80; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// Symmetric low-pass with cut-off 1/band of the Nyquist frequency and `half` taps each side.
std::vector<double> NyquistFilter(int band, int half) {
    const double beta = 0.1102 * (80.0 - 8.7);
    const double fc = 1.0 / band;  // cut-off relative to the Nyquist frequency
    const int span = half + 1;     // window reaches zero one tap beyond the filter
    std::vector<double> h(2 * half + 1);
    for (int n = -half; n <= half; ++n) {
        double ideal = (n == 0) ? fc : std::sin(M_PI * fc * n) / (M_PI * n);
        double r = static_cast<double>(n) / span;
        double w = BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta);
        double v = (n % band == 0 && n != 0) ? 0.0 : ideal * w;
        h[n + half] = std::round(v * 65536.0) / 65536.0;
    }
    return h;
}

// ---------------------------------------------------------------- elliptic design
// Jacobi elliptic functions through descending Landen transformations.
std::vector<double> Landen(double k) {
    std::vector<double> v;
    for (int n = 0; n < 10; ++n) {
        k = std::pow(k / (1.0 + std::sqrt(1.0 - k * k)), 2);
        v.push_back(k);
    }
    return v;
}
Cplx Cde(Cplx u, double k) {
    std::vector<double> v = Landen(k);
    Cplx w = std::cos(u * M_PI / 2.0);
    for (int n = static_cast<int>(v.size()) - 1; n >= 0; --n)
        w = (1.0 + v[n]) * w / (1.0 + v[n] * w * w);
    return w;
}
Cplx Sne(Cplx u, double k) {
    std::vector<double> v = Landen(k);
    Cplx w = std::sin(u * M_PI / 2.0);
    for (int n = static_cast<int>(v.size()) - 1; n >= 0; --n)
        w = (1.0 + v[n]) * w / (1.0 + v[n] * w * w);
    return w;
}
Cplx Acde(Cplx w, double k) {
    std::vector<double> v = Landen(k);
    for (size_t n = 0; n < v.size(); ++n) {
        double prev = (n == 0) ? k : v[n - 1];
        w = w / (1.0 + std::sqrt(1.0 - w * w * prev * prev)) * 2.0 / (1.0 + v[n]);
    }
    return 2.0 / M_PI * std::acos(w);
}
Cplx Asne(Cplx w, double k) { return 1.0 - Acde(w, k); }
// Selectivity modulus k from the discrimination modulus k1 (degree equation).
double EllipDeg(int order, double k1) {
    double kc = std::sqrt(1.0 - k1 * k1);
    double kp = std::pow(kc, order);
    for (int i = 1; i <= order / 2; ++i) kp *= std::pow(Sne((2.0 * i - 1) / order, kc).real(), 4);
    return std::sqrt(1.0 - kp * kp);
}

struct Section {
    double a1, a2, b0, b1, b2;  // w = x + a1 w1 + a2 w2; y = b0 w + b1 w1 + b2 w2
};

Cplx SectionResponse(const Section& s, double f) {
    Cplx z1 = std::polar(1.0, -2.0 * M_PI * f);
    return (s.b0 + s.b1 * z1 + s.b2 * z1 * z1) / (1.0 - s.a1 * z1 - s.a2 * z1 * z1);
}

// 8th-order elliptic low-pass; fp = passband edge in cycles per sample.
std::vector<Section> EllipticLowPass(double fp) {
    const int order = 8;
    const double ap = 0.05, as = 65.0;
    double ep = std::sqrt(std::pow(10.0, ap / 10.0) - 1.0);
    double es = std::sqrt(std::pow(10.0, as / 10.0) - 1.0);
    double k1 = ep / es;
    double k = EllipDeg(order, k1);
    Cplx v0 = Cplx(0, -1) * Asne(Cplx(0, 1) / ep, k1) / static_cast<double>(order);
    double wp = std::tan(M_PI * fp);  // prewarped analog edge
    std::vector<Section> secs;
    for (int i = 1; i <= order / 2; ++i) {
        double ui = (2.0 * i - 1) / order;
        double zeta = Cde(ui, k).real();
        double za = wp / (k * zeta);                                        // analog zero j*za
        Cplx pa = wp * Cplx(0, 1) * Cde(Cplx(ui, 0) - Cplx(0, 1) * v0, k);  // analog pole
        Cplx pz = (1.0 + pa) / (1.0 - pa);
        double phi = 2.0 * std::atan(za);
        Section s;
        s.a1 = 2.0 * pz.real();
        s.a2 = -std::norm(pz);
        s.b0 = 1.0;
        s.b1 = -2.0 * std::cos(phi);
        s.b2 = 1.0;
        secs.push_back(s);
    }
    // Cascade order by elliptic index 3, 4, 2, 1: the two low-Q pairs first, then the sharper
    // ones in rising Q, so the high-Q sections work on an already band-limited signal.
    secs = {secs[2], secs[3], secs[1], secs[0]};
    // Scale so the cumulative response peaks at 1 after every section.
    const int grid = 1 << 16;
    std::vector<Cplx> cum(grid + 1, Cplx(1.0, 0.0));
    for (Section& s : secs) {
        double peak = 0.0;
        for (int g = 0; g <= grid; ++g)
            peak = std::max(peak, std::abs(cum[g] * SectionResponse(s, 0.5 * g / grid)));
        s.b0 /= peak;
        s.b1 /= peak;
        s.b2 /= peak;
        for (int g = 0; g <= grid; ++g) cum[g] *= SectionResponse(s, 0.5 * g / grid);
    }
    return secs;
}

// ---------------------------------------------------------------- splines
// Six-point cubic interpolator, weights of the samples at floor - 2 .. floor + 3 for fraction x.
void SplineWeights(double x, double c[6]) {
    double q = x * (1.0 - x) / 90.0;
    c[0] = q * (7.0 - 5.0 * x);
    c[1] = q * (40.0 * x - 56.0);
    c[2] = 1.0 - x + q * (79.0 - 95.0 * x);
    c[3] = x + q * (95.0 * x - 16.0);
    c[4] = q * (-16.0 - 40.0 * x);
    c[5] = q * (2.0 + 5.0 * x);
}

struct SplinePair {
    const char* step;
    const char* coef;
    int in, out, length;
};

// A float literal that round-trips (9 significant digits), always with a decimal point.
std::string Fl(double v) {
    char buf[40];
    if (v == 0.0) v = 0.0;  // no negative zero
    std::snprintf(buf, sizeof buf, "%.9g", v);
    std::string s = buf;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s + "f";
}

void WriteFloats(FILE* f, const std::vector<double>& v) {
    for (size_t i = 0; i < v.size(); ++i)
        std::fprintf(f, "%s%s,%s", (i % 6 == 0) ? "    " : "", Fl(v[i]).c_str(),
                     (i % 6 == 5 || i + 1 == v.size()) ? "\n" : " ");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output .cpp>\n", argv[0]);
        return 2;
    }
    FILE* f = std::fopen(argv[1], "w");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(f,
                 "// Generated by tools/resampler-tables/resampler_tables.cpp; do not edit.\n"
                 "// The design rules are described in that program.\n"
                 "#include \"audiocore/decimate_tables.h\"\n\n");

    std::fprintf(f, "const float NyquistHalf[47] = {\n");
    WriteFloats(f, NyquistFilter(2, 23));
    std::fprintf(f, "};\n\nconst float NyquistThird[71] = {\n");
    WriteFloats(f, NyquistFilter(3, 35));
    std::fprintf(f, "};\n\n");

    struct {
        const char* name;
        double fin, fout;
    } iirs[] = {{"sos_44k_8k", 44100, 8000},
                {"sos_22k_8k", 22050, 8000},
                {"sos_22k_16k", 22050, 16000},
                {"sos_44k_24k", 44100, 24000}};
    for (const auto& d : iirs) {
        double fp = 0.908 * (d.fout / 2.0) / d.fin;
        std::fprintf(f, "// passband edge %.1f Hz at %.0f Hz\nconst float %s[20] = {\n", fp * d.fin,
                     d.fin, d.name);
        std::vector<double> v;
        for (const Section& s : EllipticLowPass(fp)) {
            v.insert(v.end(), {s.a1, s.a2, s.b0, s.b1, s.b2});
        }
        for (size_t i = 0; i < v.size(); i += 5)
            std::fprintf(f, "    %s, %s, %s, %s, %s,\n", Fl(v[i]).c_str(), Fl(v[i + 1]).c_str(),
                         Fl(v[i + 2]).c_str(), Fl(v[i + 3]).c_str(), Fl(v[i + 4]).c_str());
        std::fprintf(f, "};\n\n");
    }

    const SplinePair pairs[] = {{"RSS9622_table", "RSC9622_table", 640, 147, 320},
                                {"RSS4822_table", "RSC4822_table", 320, 147, 320},
                                {"RSS3222_table", "RSC3222_table", 640, 441, 640},
                                {"RSS2422_table", "RSC2422_table", 160, 147, 320},
                                {"RSS1622_table", "RSC1622_table", 320, 441, 640},
                                {"DSS_table", "DSC_table", 441, 160, 160},
                                {"USS_table", "USC_table", 147, 160, 160},
                                {"ZSS_table", "ZSC_table", 441, 320, 320}};
    for (const SplinePair& p : pairs) {
        std::fprintf(f, "// %d input samples -> %d output samples per run\n", p.in, p.out);
        std::fprintf(f, "const int32_t %s[%d] = {\n", p.step, p.length);
        for (int m = 0; m < p.length; ++m) {
            int step = 0;
            if (m < p.out)
                step =
                    static_cast<int>((int64_t)(m + 1) * p.in / p.out - (int64_t)m * p.in / p.out);
            std::fprintf(f, "%s%d,%s", (m % 20 == 0) ? "    " : "", step,
                         (m % 20 == 19 || m + 1 == p.length) ? "\n" : " ");
        }
        std::fprintf(f, "};\n\nconst float %s[%d][6] = {\n", p.coef, p.length);
        for (int m = 0; m < p.length; ++m) {
            double c[6] = {0, 0, 0, 0, 0, 0};
            if (m < p.out) SplineWeights(static_cast<double>((int64_t)m * p.in % p.out) / p.out, c);
            std::fprintf(f, "    {%s, %s, %s, %s, %s, %s},\n", Fl(c[0]).c_str(), Fl(c[1]).c_str(),
                         Fl(c[2]).c_str(), Fl(c[3]).c_str(), Fl(c[4]).c_str(), Fl(c[5]).c_str());
        }
        std::fprintf(f, "};\n\n");
    }
    std::fclose(f);
    return 0;
}
