#include "models/integrated.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <utility>

#include "models/heyrovsky.hpp"
#include "models/interrupt.hpp"
#include "models/panic.hpp"
#include "models/profile.hpp"
#include "models/witt_mao.hpp"
#include "numerics/quadrature/gauss_legendre.hpp"
#include "numerics/quadrature/tanh_sinh.hpp"

namespace velmora {
namespace {

constexpr double kPi = 3.141592653589793;         // π
constexpr double kTwoPi = 6.283185307179586;      // 2π
constexpr double kTarget = 1e-16;                 // absolute error target of every radius integral
constexpr double kLawNormaliser = 2.5132741228717936;  // ∫₀¹ 2πr I(r) dr as stored (≈ π(1 − 0.6/3))

// The end points of the smooth pieces of [0, 1]: 0, the profile's kinks, l when 0 < l < 1
// (the ring magnification has a logarithmic singularity at r = l, and W(r) a kink), and 1.
// The kinks are ascending, distinct and inside (0, 1), so l is merged in at its place found by
// bisection (dropped if it is a kink): O(K) per lens position, no sort.
// Written into `points`, whose storage is reused from one lens position to the next.
const std::vector<double>& split_points(const std::vector<double>& kinks, double l, std::vector<double>& points) {
    points.clear();
    points.push_back(0.0);
    const bool inside = l > 0.0 && l < 1.0;  // false for NaN
    const auto at = inside ? std::lower_bound(kinks.begin(), kinks.end(), l) : kinks.end();
    points.insert(points.end(), kinks.begin(), at);
    if (inside && (at == kinks.end() || *at != l)) points.push_back(l);
    points.insert(points.end(), at, kinks.end());
    points.push_back(1.0);
    return points;
}

// Σ over the pieces of `points` of piece_value(a, b).
template <class F>
double sum_pieces(const std::vector<double>& points, F&& piece_value) {
    double total = 0.0;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) total += piece_value(points[i], points[i + 1]);
    return total;
}

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// A piece of a flux map in ascending order is one line of the table. Where it also lies at least
// its own width away from the lens (the ring magnification's logarithmic singularity at r = l and
// the kink of W there, together with their complex neighbours at r = l ± 2iε, are all at least
// that far), the integrand is analytic in a Bernstein ellipse of ρ ≥ 3 + √8 around the piece and
// the 10-point Gauss–Legendre rule reaches ~1e-15 relative with 10 evaluations; the tanh-sinh
// ladder, whose 1e-16 target the integrand's rounding never lets it meet, spends 385. Pieces next
// to the lens, law pieces (√ end point at r = 1) and unordered tables keep the ladder.
bool table_line(const Profile::Piece& piece) { return !piece.law && piece.smooth(); }

bool far_from_lens(const Profile::Piece& piece, double l) {
    const double gap = std::max(piece.start - l, l - piece.end);  // negative when l is inside; NaN fails
    return gap >= piece.end - piece.start;
}

// The rule for one piece, as a callable (f, a, b) → ∫_a^b f. The integrand's non-finite values
// count as 0 under either rule.
auto piece_rule(bool gauss) {
    return [gauss](auto&& f, double a, double b) {
        if (gauss) return gauss_legendre([&](double r) { return finite_or_zero(f(r)); }, a, b);
        return integrate(f, a, b, kTarget).integral;
    };
}

// The work of one lens position for interrupt::poll: at least one 10-point rule per piece.
std::int32_t position_work(const std::vector<double>& points) {
    return static_cast<std::int32_t>(std::min<std::size_t>(points.size(), 1u << 20)) * 10;
}

// N = ∫₀¹ 2πr P(r) dr, split at the profile's kinks; a table's pieces are quadratics in r. A long
// table is polled for an interrupt once per piece.
CalcResult<double> normaliser(const Profile& profile) {
    std::vector<double> points;
    split_points(profile.kinks(), 0.0, points);
    double total = 0.0;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        if (interrupt::poll(10)) return interrupt::stopped();
        const double a = points[i], b = points[i + 1];
        const Profile::Piece piece = profile.piece(a, b);
        total += piece_rule(table_line(piece))([&](double r) { return (kTwoPi * r) * piece(r); }, a, b);
    }
    return total;
}

// Ring route: (1/N) ∫₀¹ 2πr A(l, r) P(r) dr. A ring-magnification error counts as NaN, and the
// quadrature counts a non-finite value as 0.
CalcResult<std::vector<double>> ring_route(const std::vector<double>& l, double re, double rstar,
                                           const Profile& profile, double norm) {
    const std::vector<double> kinks = profile.kinks();
    std::vector<double> points;
    points.reserve(kinks.size() + 3);
    std::vector<double> out;
    out.reserve(l.size());
    for (const double li : l) {
        split_points(kinks, li, points);
        if (interrupt::poll(position_work(points))) return interrupt::stopped();
        const double m = sum_pieces(points, [&](double a, double b) {
            const Profile::Piece piece = profile.piece(a, b);
            auto integrand = [&](double r) {
                const double ring = heyrovsky_magnification(li, r, re, rstar).value_or(NAN);
                return (kTwoPi * r) * ring * piece(r);
            };
            return piece_rule(table_line(piece) && far_from_lens(piece, li))(integrand, a, b);
        });
        out.push_back(m / norm);
    }
    return out;
}

// Disk route: (1/N) ∫₀¹ P(r) d[πr² W(r)], integrated by parts on each smooth piece (a, b):
//   ∫_a^b P d[πr²W] = πb² W(b) P(b⁻) − πa² W(a) P(a⁺) − ∫_a^b πr² W(r) P′(r) dr,
// which needs no derivative of W. W(r) is the uniform-disk magnification of the concentric disk of
// radius r: the same lens at l/r of its radius, source radius r·rstar. W(1) is the full-disk value
// computed before. Kernel errors inside count as NaN, so as 0.
CalcResult<std::vector<double>> disk_route(const std::vector<double>& l, const std::vector<double>& full_disk,
                                           double re, double rstar, const Profile& profile, double norm) {
    const std::vector<double> kinks = profile.kinks();
    std::vector<double> points;
    points.reserve(kinks.size() + 3);
    std::vector<double> out;
    out.reserve(l.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double li = l[i];
        auto disk = [&](double r) {
            if (r == 1.0) return full_disk[i];
            return UniformDisk(re, r * rstar).at(li / r).value_or(NAN);
        };
        split_points(kinks, li, points);
        if (interrupt::poll(position_work(points))) return interrupt::stopped();
        const double m = sum_pieces(points, [&](double a, double b) {
            const Profile::Piece piece = profile.piece(a, b);
            const double at_end = finite_or_zero(kPi * b * b * disk(b) * piece.at_end);
            const double at_start = a == 0.0 ? 0.0 : finite_or_zero(kPi * a * a * disk(a) * piece.at_start);
            const double inside = piece.against_slope([&](double r) { return (kPi * r * r) * disk(r); },
                                                      piece_rule(table_line(piece) && far_from_lens(piece, li)));
            return at_end - at_start - inside;
        });
        out.push_back(m / norm);
    }
    return out;
}

}  // namespace

CalcResult<std::vector<double>> integrated_heyrovsky_magnification(std::vector<double> l, double re, double rstar) {
    return ring_route(l, re, rstar, Profile::limb_darkened(), kLawNormaliser);
}

CalcResult<std::vector<double>> integrated_witt_mao_magnification(std::vector<double> l, double re, double rstar) {
    CalcResult<std::vector<double>> full_disk = witt_mao_magnification(l, re, rstar);
    if (!full_disk) return full_disk;
    return disk_route(l, *full_disk, re, rstar, Profile::limb_darkened(), kLawNormaliser);
}

CalcResult<std::vector<double>> integrated_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                            double rstar, std::vector<double> bl,
                                                                            std::vector<double> bf) {
    assert_equal_lengths(bl.size(), bf.size());
    const Profile profile = Profile::flux_map(bl, bf);
    const CalcResult<double> norm = normaliser(profile);
    if (!norm) return norm.failure();
    return ring_route(l, re, rstar, profile, *norm);
}

CalcResult<std::vector<double>> integrated_flux_map_witt_mao_magnification(std::vector<double> l, double re,
                                                                           double rstar, std::vector<double> bl,
                                                                           std::vector<double> bf) {
    assert_equal_lengths(bl.size(), bf.size());
    const Profile profile = Profile::flux_map(bl, bf);
    const CalcResult<double> norm = normaliser(profile);
    if (!norm) return norm.failure();
    CalcResult<std::vector<double>> full_disk = witt_mao_magnification(l, re, rstar);
    if (!full_disk) return full_disk;
    return disk_route(l, *full_disk, re, rstar, profile, *norm);
}

}  // namespace velmora
