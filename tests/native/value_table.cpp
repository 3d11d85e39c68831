// velmora_value_table: every model function evaluated on one fixed table of inputs, printed
// with the exact bits of every result. Plain C++ with no Python, so that builds by different
// compilers and for different architectures (scripts/cross_check: GCC, Clang, aarch64 under
// qemu) can be compared value by value with diff or a short script.
//
// Usage: velmora_value_table > table.txt   (no arguments; the output depends on nothing but the
//        build: no timing, no environment, no randomness)
//
// Inputs (all fixed below; rho = rstar/re, the source radius in Einstein radii):
// - scales (re, rstar): re = 1 with rstar = rho for rho = 1e-6 ... 1e4 (every decade, and 0.3,
//   2, 3), and re = 3.7 with rstar = 3.7·rho for three of them (rho then rounds in the division);
// - lens positions l (source radii): 0 and 1e-12 ... 0.999 inside; 1 − 1e-9, 1 − 1e-12, 1, 1 +
//   1e-12 and 1 + 1e-9 on the limb; the far-field switches (3: the law's series, 4: a table's, 16:
//   the uniform disk's, and 3.8, 8, each with ± 1e-9 and ± 1 ulp) and out to 1e8;
// - witt_mao_magnification, integrated_witt_mao_magnification and
//   integrated_heyrovsky_magnification: every scale × every l;
// - heyrovsky_magnification: six scales × every l × ring radii r: 0, 1e-3, 0.5, 1, 2, the ring
//   next to the lens (r = l ± 1e-12, l ± 1e-9 relative, l ± 1 ulp) and on it (r = l, infinite);
// - the three flux-map functions: ten maps (below: ordered with 2, 5, 17 and 64 knots, one with a
//   knot past the limb, one zero at both ends, one with a negative value, an unordered one, one
//   knot, empty) × six scales × a subset of l plus, for every map, l on a knot and 1e-9 either
//   side of it (every knot; four of them for the 17- and 64-knot maps);
// - integrated_law_heyrovsky_magnification: seven laws (linear, quadratic, square-root, power-2,
//   four-coefficient, μ^8, μ^100), printed as maps whose bl are the powers and bf the weights,
//   × six scales × every l.
// Each call takes a whole vector of l for one scale (and map), as a user would; if that call
// fails, each l is then called alone, so that every value gets its own result or error. About
// 14,300 values in all: well under a second on x86-64, a few seconds under qemu-aarch64.
//
// Output, one line per value, fields separated by single spaces:
//   map <name> bl=<v>,<v>,... bf=<v>,<v>,...                 once per map, before its values
//   <function> l=<v> [r=<v>] re=<v> rstar=<v> [map=<name>] = <bits> <decimal>
//   <function> l=<v> [r=<v>] re=<v> rstar=<v> [map=<name>] = error <message>
// where every <v> is printed with %.17g (it reads back as the same double), <bits> is the
// result's IEEE-754 binary64 encoding as 16 lower-case hex digits and <decimal> its %.17g.
// Lines starting with # are comments (a header and the count of values at the end). Everything up
// to " = " identifies a value and is the same in every build; only what follows may differ.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"
#include "numerics/calc_result.hpp"

namespace {

using velmora::CalcResult;
using Vector = std::vector<double>;

std::size_t g_count = 0;

std::string number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string numbers(const Vector& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i != 0) out += ',';
        out += number(v[i]);
    }
    return out;
}

void print_value(const std::string& key, double value) {
    std::uint64_t bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    std::printf("%s = %016" PRIx64 " %.17g\n", key.c_str(), bits, value);
    ++g_count;
}

void print_error(const std::string& key, const char* message) {
    std::printf("%s = error %s\n", key.c_str(), message);
    ++g_count;
}

struct Scale {
    double re, rstar;
};

struct Map {
    const char* name;
    Vector bl, bf;
    Vector knots_to_visit;  // the knots at which (and 1e-9 either side of which) the lens is put
};

std::string key_of(const char* function, double l, const Scale& s, const Map* map) {
    std::string key = std::string(function) + " l=" + number(l) + " re=" + number(s.re) + " rstar=" + number(s.rstar);
    if (map != nullptr) key += std::string(" map=") + map->name;
    return key;
}

// One vector call over ls; on failure, each l alone, so that every l gets its value or error.
template <class Call>
void vector_values(const char* function, const Vector& ls, const Scale& s, const Map* map, Call&& call) {
    const CalcResult<Vector> all = call(ls);
    if (all) {
        for (std::size_t i = 0; i < ls.size(); ++i) print_value(key_of(function, ls[i], s, map), (*all)[i]);
        return;
    }
    for (const double l : ls) {
        const CalcResult<Vector> one = call(Vector{l});
        if (one) {
            print_value(key_of(function, l, s, map), (*one)[0]);
        } else {
            print_error(key_of(function, l, s, map), one.error());
        }
    }
}

// l with x appended if it is not there yet (the table's order is that of first appearance).
void add(Vector& v, double x) {
    for (const double y : v) {
        if (std::memcmp(&x, &y, sizeof x) == 0) return;
    }
    v.push_back(x);
}

Vector lens_positions() {
    Vector l = {0.0, 1e-12, 1e-6, 1e-3, 0.05, 0.2, 0.5, 0.8, 0.99, 0.999, 0.999999};
    for (const double x : {1 - 1e-9, 1 - 1e-12, std::nextafter(1.0, 0.0), 1.0, std::nextafter(1.0, 2.0), 1 + 1e-12,
                           1 + 1e-9, 1.000001, 1.01, 1.2, 1.5, 2.0, 2.5}) {
        add(l, x);
    }
    // The far-field switches: 3 (the law), 3.8 (term counts), 4 (a table), 8, 16 (the uniform disk).
    for (const double edge : {3.0, 3.8, 4.0, 8.0, 16.0}) {
        for (const double x : {edge - 1e-9, std::nextafter(edge, 0.0), edge, std::nextafter(edge, 2 * edge),
                               edge + 1e-9}) {
            add(l, x);
        }
    }
    for (const double x : {5.0, 6.1, 10.5, 12.0, 30.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8}) add(l, x);
    return l;
}

std::vector<Scale> scales() {
    std::vector<Scale> out;
    for (const double rho : {1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 0.1, 0.3, 1.0, 2.0, 3.0, 10.0, 100.0, 1e3, 1e4}) {
        out.push_back({1.0, rho});
    }
    for (const double rho : {1e-3, 1.0, 1e3}) out.push_back({3.7, 3.7 * rho});
    return out;
}

// Linear limb darkening sampled at n knots from 0 to 1.
Map law_map(const char* name, int n, Vector visit) {
    Map m{name, {}, {}, std::move(visit)};
    for (int i = 0; i < n; ++i) {
        const double r = static_cast<double>(i) / (n - 1);
        m.bl.push_back(r);
        m.bf.push_back(1.0 - 0.6 * (1.0 - std::sqrt(1.0 - r * r)));
    }
    return m;
}

std::vector<Map> maps() {
    std::vector<Map> out;
    out.push_back({"two", {0.0, 1.0}, {1.0, 0.4}, {1.0}});
    out.push_back(law_map("law5", 5, {0.25, 0.5, 0.75, 1.0}));
    out.push_back(law_map("law17", 17, {0.0625, 0.5, 0.9375, 1.0}));
    out.push_back(law_map("law64", 64, {1.0 / 63, 31.0 / 63, 62.0 / 63, 1.0}));
    out.push_back({"past_limb", {0.2, 0.7, 1.3}, {2.0, 1.0, 0.5}, {0.2, 0.7, 1.3}});
    out.push_back({"inner_ring", {0.0, 0.3, 0.6}, {0.0, 1.0, 0.0}, {0.3, 0.6}});
    out.push_back({"signed", {0.0, 0.5, 1.0}, {1.0, -0.2, 0.5}, {0.5}});
    out.push_back({"unordered", {0.0, 0.6, 0.3, 1.0, 0.8}, {1.0, 0.7, 0.9, 0.4, 0.55}, {0.3, 0.6, 0.8}});
    out.push_back({"one_knot", {0.5}, {2.0}, {0.5}});
    out.push_back({"empty", {}, {}, {}});
    return out;
}

void disk_functions(const std::vector<Scale>& all_scales, const Vector& ls) {
    for (const Scale& s : all_scales) {
        vector_values("witt_mao_magnification", ls, s, nullptr,
                      [&](const Vector& l) { return velmora::witt_mao_magnification(l, s.re, s.rstar); });
    }
    for (const Scale& s : all_scales) {
        vector_values("integrated_witt_mao_magnification", ls, s, nullptr,
                      [&](const Vector& l) { return velmora::integrated_witt_mao_magnification(l, s.re, s.rstar); });
    }
    for (const Scale& s : all_scales) {
        vector_values("integrated_heyrovsky_magnification", ls, s, nullptr,
                      [&](const Vector& l) { return velmora::integrated_heyrovsky_magnification(l, s.re, s.rstar); });
    }
}

void ring_function(const Vector& ls) {
    const std::vector<Scale> ring_scales = {{1.0, 1e-6}, {1.0, 1e-3}, {1.0, 0.1}, {1.0, 1.0}, {1.0, 100.0}, {1.0, 1e4}};
    for (const Scale& s : ring_scales) {
        for (const double l : ls) {
            Vector rs = {0.0, 1e-3, 0.5, 1.0, 2.0};
            for (const double r : {l - 1e-12, l + 1e-12, l * (1 - 1e-9), l * (1 + 1e-9), std::nextafter(l, 0.0),
                                   std::nextafter(l, 2 * l + 1), l}) {
                if (r >= 0.0) add(rs, r);
            }
            for (const double r : rs) {
                const std::string key = "heyrovsky_magnification l=" + number(l) + " r=" + number(r) +
                                        " re=" + number(s.re) + " rstar=" + number(s.rstar);
                const CalcResult<double> a = velmora::heyrovsky_magnification(l, r, s.re, s.rstar);
                if (a) {
                    print_value(key, *a);
                } else {
                    print_error(key, a.error());
                }
            }
        }
    }
}

void map_functions() {
    const std::vector<Scale> map_scales = {{1.0, 1e-5}, {1.0, 1e-2}, {1.0, 0.3}, {1.0, 1.0}, {1.0, 10.0}, {1.0, 1e3}};
    const Vector base = {0.0, 1e-6, 0.1, 0.45, 0.9, 1 - 1e-9, 1.0, 1 + 1e-9, 1.5, 2.5, 3.0,
                         std::nextafter(4.0, 0.0), 4.0, 4 + 1e-9, 8.0, 16.0, 100.0, 1e4, 1e8};
    for (const Map& m : maps()) {
        std::printf("map %s bl=%s bf=%s\n", m.name, numbers(m.bl).c_str(), numbers(m.bf).c_str());
        Vector ls = base;
        for (const double k : m.knots_to_visit) {
            for (const double x : {k - 1e-9, k, k + 1e-9}) add(ls, x);
        }
        for (const Scale& s : map_scales) {
            vector_values("integrated_flux_map_witt_mao_magnification", ls, s, &m, [&](const Vector& l) {
                return velmora::integrated_flux_map_witt_mao_magnification(l, s.re, s.rstar, m.bl, m.bf);
            });
            vector_values("integrated_flux_map_heyrovsky_magnification", ls, s, &m, [&](const Vector& l) {
                return velmora::integrated_flux_map_heyrovsky_magnification(l, s.re, s.rstar, m.bl, m.bf);
            });
            vector_values("discrete_flux_map_heyrovsky_magnification", ls, s, &m, [&](const Vector& l) {
                return velmora::discrete_flux_map_heyrovsky_magnification(l, s.re, s.rstar, m.bl, m.bf);
            });
        }
    }
}

// Limb-darkening laws as sums of powers of μ, printed as maps whose bl holds the powers and bf the
// weights (the module takes them in those positions too): linear, quadratic, square-root, power-2,
// four-coefficient, a single power and a high one (a peak at the centre).
void law_function(const Vector& ls) {
    const std::vector<Scale> law_scales = {{1.0, 1e-6}, {1.0, 1e-2}, {1.0, 0.3}, {1.0, 1.0}, {1.0, 100.0}, {1.0, 1e4}};
    const std::vector<Map> laws = {
        {"law_linear", {0.0, 1.0}, {0.4, 0.6}, {}},
        {"law_quadratic", {0.0, 1.0, 2.0}, {0.35, 0.9, -0.25}, {}},
        {"law_square_root", {0.0, 1.0, 0.5}, {0.3, 0.25, 0.45}, {}},
        {"law_power_2", {0.0, 0.55}, {0.35, 0.65}, {}},
        {"law_four_coefficient", {0.0, 0.5, 1.0, 1.5, 2.0}, {0.31, 0.56, -0.05, 0.37, -0.19}, {}},
        {"law_single_8", {8.0}, {1.0}, {}},
        {"law_single_100", {100.0}, {1.0}, {}},
    };
    for (const Map& m : laws) {
        std::printf("map %s bl=%s bf=%s\n", m.name, numbers(m.bl).c_str(), numbers(m.bf).c_str());
        for (const Scale& s : law_scales) {
            vector_values("integrated_law_heyrovsky_magnification", ls, s, &m, [&](const Vector& l) {
                return velmora::integrated_law_heyrovsky_magnification(l, s.re, s.rstar, m.bl, m.bf);
            });
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s  (no arguments; the table goes to standard output)\n", argv[0]);
        return 2;
    }
    try {
        std::printf("# velmora value table 1: <function> <inputs> = <IEEE-754 bits, hex> <%%.17g> | error <message>\n");
        const Vector ls = lens_positions();
        disk_functions(scales(), ls);
        ring_function(ls);
        map_functions();
        law_function(ls);
        std::printf("# %zu values\n", g_count);
    } catch (const std::exception& e) {
        // Only a broken invariant throws (velmora::Panic); no input here should.
        std::fflush(stdout);
        std::fprintf(stderr, "velmora_value_table: %s\n", e.what());
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
