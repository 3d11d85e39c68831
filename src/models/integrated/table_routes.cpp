// A flux map's routes (models/flux_map_profile.hpp): at each lens position the radius integral is
// split at the map's knots and at r = l, and each piece between them is integrated alone, with the
// graded Gauss rule on the one line of an ordered map's piece and with the tanh-sinh ladder on a
// piece of an unordered map (which may hold kinks at unknown places). From kTableFarField on the
// far-field series in the map's moments takes over, when the map allows it.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "models/centroid.hpp"
#include "models/flux_map_profile.hpp"
#include "models/gradient.hpp"
#include "models/integrated/radius_integrand.hpp"
#include "models/integrated/routes.hpp"
#include "models/integrated/singular_points.hpp"
#include "models/interrupt.hpp"
#include "models/panic.hpp"
#include "models/witt_mao.hpp"
#include "numerics/constants.hpp"
#include "numerics/quadrature/graded_gauss.hpp"
#include "numerics/quadrature/tanh_sinh.hpp"

namespace velmora::integrated {

// Each Gauss panel is chosen for e^-38 ≈ 3e-17 of its own size, so that with the bound's constant
// and the log singularities' growth the sum stays below 1e-13 relative (measured against mpmath
// over the whole domain; a smaller exponent fails those tests). A point near a panel's end splits it
// a quarter of its width from that end.
const GradedRule kTableRule(38.0, 0.25);

namespace {

using constants::kPi;
using constants::kTwoPi;

// From this lens distance on a map's routes take the far-field series, when the map allows it: its
// k-th weight is at most k + 1 = 13 (|μ_k| ≤ μ_0), so the series starts at l = 4, where its first
// omitted term is below 1e-16 relative (models/witt_mao.hpp).
constexpr double kTableFarField = 4.0;

// The end points of the smooth pieces of [0, 1]: 0, the map's kinks, l when 0 < l < 1 (the ring
// magnification has a logarithmic singularity at r = l, and W(r) a kink), and 1. The kinks are
// ascending, distinct and inside (0, 1), so l is merged in at its place found by bisection (dropped
// if it is a kink): O(K) per lens position, no sort. Written into `points`, whose storage is reused
// from one lens position to the next.
void split_points(const std::vector<double>& kinks, double l, std::vector<double>& points) {
    points.clear();
    points.push_back(0.0);
    const bool inside = l > 0.0 && l < 1.0;  // false for NaN
    const auto at = inside ? std::lower_bound(kinks.begin(), kinks.end(), l) : kinks.end();
    points.insert(points.end(), kinks.begin(), at);
    if (inside && (at == kinks.end() || *at != l)) points.push_back(l);
    points.insert(points.end(), at, kinks.end());
    points.push_back(1.0);
}

// The work of one lens position for interrupt::poll: about ten evaluations per piece.
std::int32_t position_work(const std::vector<double>& points) {
    return static_cast<std::int32_t>(std::min<std::size_t>(points.size(), 1u << 20)) * 10;
}

// One of a pair-valued magnification's parts, as a magnification (one radius or a batch).
template <class Pair, bool Second>
struct PairPart {
    const Pair& pair;
    double operator()(double r) const {
        const auto both = pair(r);
        return Second ? both.second : both.first;
    }
    void operator()(std::span<const double> r, std::span<double> out) const {
        for (std::size_t k = 0; k < r.size(); ++k) out[k] = (*this)(r[k]);
    }
};

// The pieces of [0, 1] between the split points at one lens position, and the integrals over those
// that need one. An ordered map's pieces are integrated together: the nodes of every piece go into
// one GradedBatch, so that the magnifications are taken in full lanes however few nodes each piece
// has, and each piece's integral is then what graded_gauss gives for it alone, bit for bit. An
// unordered map's are integrated one by one. The storage is reused from one position to the next.
class PieceIntegrals {
public:
    // The pieces between the points; those for which wanted(piece) holds get an integral.
    template <class Wanted>
    void gather(const FluxMap& map, const std::vector<double>& points, double l, double eps, const GradedRule& rule,
                Wanted&& wanted) {
        l_ = l, rule_ = &rule, ordered_ = map.ordered();
        all_ = singular_in_r(l, eps), near_ = singular_in_r(l, eps, false);
        batch_.clear(), pieces_.clear(), batch_index_.clear(), integrals_.clear();
        std::size_t cursor = 0;
        for (std::size_t i = 0; i + 1 < points.size(); ++i) {
            const double a = points[i], b = points[i + 1];
            pieces_.push_back(ordered_ ? map.piece(a, b, cursor) : map.piece(a, b));
            const bool has_integral = wanted(pieces_.back());
            batch_index_.push_back(has_integral ? batch_.size() : kNone);
            if (!has_integral || !ordered_) continue;
            const SingularEnd end = singular_end(a, b, l);
            batch_.add(a, b, end == SingularEnd::none ? near_.span() : all_.span(), end, rule);
        }
    }

    // ∫ (inner·M(r))·outer dr over every wanted piece, at(piece, r) giving the AtRadius at r.
    template <class Magnification, class At>
    void integrate(const Magnification& magnification, At&& at) {
        integrals_.assign(pieces_.size(), 0.0);
        if (ordered_) {
            const std::span<const double> r = batch_.nodes();
            values_.resize(r.size());
            magnification(r, std::span<double>(values_));
            for (std::size_t i = 0; i < pieces_.size(); ++i) {
                if (batch_index_[i] == kNone) continue;
                for (std::size_t k = batch_.first(batch_index_[i]); k < batch_.last(batch_index_[i]); ++k) {
                    const AtRadius p = at(pieces_[i], r[k]);
                    values_[k] = finite_or_zero((p.inner * values_[k]) * p.outer);
                }
                integrals_[i] = batch_.integral(batch_index_[i], values_);
            }
            return;
        }
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            if (batch_index_[i] == kNone) continue;
            const FluxMap::Piece& piece = pieces_[i];
            const RadiusIntegrand f{magnification, [&](double r) { return at(piece, r); }};
            // A one-knot map is one line even when it is not ordered (a NaN knot): Gauss there too.
            integrals_[i] = piece.smooth() ? graded_gauss(f, piece.start, piece.end, all_.span(),
                                                          singular_end(piece.start, piece.end, l_), *rule_)
                                           : integrate_tanh_sinh(f, piece.start, piece.end);
        }
    }

    // The same for two integrands sharing the magnification's evaluation: magnification(r, first,
    // second) fills the pair at all of the batch's nodes together, each integrated as integrate()
    // would with at_first / at_second. An unordered map's pieces take the pair at one radius at a
    // time (magnification(r), a pair), twice (once per integrand). Results: integral(i), second(i).
    template <class Pair, class AtFirst, class AtSecond>
    void integrate_two(const Pair& magnification, AtFirst&& at_first, AtSecond&& at_second) {
        if (!ordered_) {
            integrate(PairPart<Pair, true>{magnification}, at_second);
            seconds_ = integrals_;
            integrate(PairPart<Pair, false>{magnification}, at_first);
            return;
        }
        integrals_.assign(pieces_.size(), 0.0);
        seconds_.assign(pieces_.size(), 0.0);
        const std::span<const double> r = batch_.nodes();
        values_.resize(r.size());
        others_.resize(r.size());
        magnification(r, std::span<double>(values_), std::span<double>(others_));
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            if (batch_index_[i] == kNone) continue;
            for (std::size_t k = batch_.first(batch_index_[i]); k < batch_.last(batch_index_[i]); ++k) {
                const AtRadius p = at_first(pieces_[i], r[k]);
                values_[k] = finite_or_zero((p.inner * values_[k]) * p.outer);
                const AtRadius q = at_second(pieces_[i], r[k]);
                others_[k] = finite_or_zero((q.inner * others_[k]) * q.outer);
            }
            integrals_[i] = batch_.integral(batch_index_[i], values_);
            seconds_[i] = batch_.integral(batch_index_[i], others_);
        }
    }
    double second(std::size_t i) const { return seconds_[i]; }

    std::size_t size() const { return pieces_.size(); }
    const FluxMap::Piece& piece(std::size_t i) const { return pieces_[i]; }
    bool has_integral(std::size_t i) const { return batch_index_[i] != kNone; }
    double integral(std::size_t i) const { return integrals_[i]; }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    template <class F>
    static double integrate_tanh_sinh(const F& f, double a, double b) {
        return velmora::integrate(f, a, b, FluxMap::kUnorderedTarget).integral;
    }

    double l_ = 0.0;
    const GradedRule* rule_ = nullptr;
    bool ordered_ = true;
    SingularPoints all_, near_;
    GradedBatch batch_;
    std::vector<FluxMap::Piece> pieces_;     // every piece of [0, 1], in order
    std::vector<std::size_t> batch_index_;   // per piece: its integral's index in batch_ (ordered), or kNone
    std::vector<double> integrals_;          // per piece
    std::vector<double> values_;             // per node of batch_
    std::vector<double> others_;             // per node of batch_, the second integrand (integrate_two)
    std::vector<double> seconds_;            // per piece, the second integral (integrate_two)
};

// The ring route's integral at one position, ∫₀¹ 2πr A(l, r) P(r) dr over the split points' pieces
// (before the division by N): a piece that is one line with 0 at both ends has nothing to integrate.
// The pieces stay gathered in `pieces` (the gradient route integrates its derivatives over them).
double ring_integral(PieceIntegrals& pieces, const FluxMap& map, const std::vector<double>& points, double l,
                     double re, double rstar, const GradedRule& rule) {
    pieces.gather(map, points, l, re / rstar, rule, [](const FluxMap::Piece& piece) { return !piece.zero(); });
    pieces.integrate(RingMagnification{l, re, rstar}, [](const FluxMap::Piece& piece, double r) {
        return AtRadius{r, kTwoPi * r, piece(r)};
    });
    double m = 0.0;
    for (std::size_t j = 0; j < pieces.size(); ++j) {
        if (pieces.has_integral(j)) m += pieces.integral(j);
    }
    return m;
}

// A route over all positions for the map (bl, bf): the far-field series from kTableFarField on (when
// the map allows it), otherwise at(map, l, points), the integral at l over the pieces between the
// split points, divided by the map's normaliser N; floored at 1 as `floor` says, when the map has no
// negative value and N > 0.
template <class At>
CalcResult<std::vector<double>> over_positions(const std::vector<double>& l, double rho, std::span<const double> bl,
                                               std::span<const double> bf, Floor floor, At&& at) {
    assert_equal_lengths(bl.size(), bf.size());
    const FluxMap map(bl, bf);
    const CalcResult<double> norm = map.normaliser();
    if (!norm) return norm.failure();
    const std::optional<ProfileFarField> far = map.far_field(*norm);
    const bool nonnegative = std::all_of(bf.begin(), bf.end(), [](double v) { return v >= 0.0; }) && *norm > 0.0;
    const std::vector<double> kinks = map.kinks();
    std::vector<double> points;
    points.reserve(kinks.size() + 3);
    std::vector<double> out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, taken together below
    for (const double li : l) {
        if (far && li >= kTableFarField) {
            if (interrupt::poll()) return interrupt::stopped();
            far_at.push_back(out.size());
            out.push_back(NAN);
            continue;
        }
        split_points(kinks, li, points);
        if (interrupt::poll(position_work(points))) return interrupt::stopped();
        out.push_back(at(map, li, points) / *norm);
    }
    if (far) far->values_at(l, rho, far_at, out);
    return floored(std::move(out), l, rho, nonnegative, floor);
}

}  // namespace

// Ring route: (1/N) ∫₀¹ 2πr A(l, r) P(r) dr; a piece that is one line with 0 at both ends has nothing
// to integrate.
CalcResult<std::vector<double>> table_ring_route(const std::vector<double>& l, double re, double rstar,
                                                 std::span<const double> bl, std::span<const double> bf,
                                                 const GradedRule& rule, Floor floor) {
    const double rho = rstar / re;
    PieceIntegrals pieces;
    return over_positions(l, rho, bl, bf, floor, [&](const FluxMap& map, double li, const std::vector<double>& points) {
        return ring_integral(pieces, map, points, li, re, rstar, rule);
    });
}

// Disk route: (1/N) ∫₀¹ P(r) d[πr² W(r)], integrated by parts on each smooth piece (a, b):
//   ∫_a^b P d[πr²W] = πb² W(b) P(b⁻) − πa² W(a) P(a⁺) − ∫_a^b πr² W(r) P′(r) dr,
// which needs no derivative of W. W(r) is the uniform-disk magnification of the concentric disk of
// radius r: the same lens at l/r of its radius, source radius r·rstar; only a sloped piece has an
// integral. Non-finite values count as 0.
CalcResult<std::vector<double>> table_disk_route(const std::vector<double>& l, double re, double rstar,
                                                 std::span<const double> bl, std::span<const double> bf,
                                                 const GradedRule& rule, Floor floor) {
    const double eps = re / rstar, rho = rstar / re;
    // Only for its kernel errors, raised before the map is looked at: W(l) itself is W at r = 1 below.
    const CalcResult<std::vector<double>> full_disk = full_disk_below(l, re, rstar, kTableFarField);
    if (!full_disk) return full_disk.failure();
    PieceIntegrals pieces;
    std::vector<double> w_at;  // W at the split points (but r = 0)
    return over_positions(l, rho, bl, bf, floor, [&](const FluxMap& map, double li, const std::vector<double>& points) {
        pieces.gather(map, points, li, eps, rule,
                      [](const FluxMap::Piece& piece) { return piece.line.slope != 0.0; });
        pieces.integrate(ConcentricDiskMagnification{li, rho}, [](const FluxMap::Piece&, double r) {
            return AtRadius{r, kPi * r * r, 1.0};
        });
        w_at.resize(points.size());
        UniformDisk::concentric(li, rho, std::span<const double>(points).subspan(1), std::span<double>(w_at).subspan(1));
        double m = 0.0;
        for (std::size_t j = 0; j < pieces.size(); ++j) {
            const FluxMap::Piece& piece = pieces.piece(j);
            const double a = points[j], b = points[j + 1];
            const double at_end = finite_or_zero(kPi * b * b * w_at[j + 1] * piece.at_end);
            const double at_start = a == 0.0 ? 0.0 : finite_or_zero(kPi * a * a * w_at[j] * piece.at_start);
            const double inside = pieces.has_integral(j) ? piece.line.slope * pieces.integral(j) : 0.0;
            m += at_end - at_start - inside;
        }
        return m;
    });
}

// Centroid shift: (∫₀¹ 2πr Z(l, r) P(r) dr)/(∫₀¹ 2πr A(l, r) P(r) dr), Z the ring's shift numerator
// (models/centroid.hpp), both over the ring route's pieces at the same nodes (Z has the ring
// magnification's singular points: the lens on the ring, s² + 4 = 0). The map's value at the limb,
// P(1⁻), is taken out as a uniform disk (closed forms of its magnification and shift): the rest
// vanishes at the limb, where with the lens next to it the log singularity would otherwise cost the
// numerator, which cancels to ~0 there, the accuracy asked (measured: 50x 1e-16·(u + ρ) at l = 1 ± 1e-12
// for a uniform map). From kTableFarField on, where the map's far-field series serves the
// magnification, the centroid's series in the same moments (its first omitted term below 1.4e-16
// relative at l = 4 for weights up to 13).
CalcResult<std::vector<double>> table_centroid_route(const std::vector<double>& l, double re, double rstar,
                                                     std::span<const double> bl, std::span<const double> bf,
                                                     const GradedRule& rule) {
    assert_equal_lengths(bl.size(), bf.size());
    const double eps = re / rstar, rho = rstar / re;
    // A source far smaller than the Einstein radius: its shift within the far field's switch, taken at
    // kScaleFreeRadius and scaled (models/centroid.hpp).
    const bool scale_free = rho > 0.0 && rho < kScaleFreeRadius;
    const double near_rho = scale_free ? kScaleFreeRadius : rho, near_eps = scale_free ? 1.0 / kScaleFreeRadius : eps;
    const FluxMap map(bl, bf);
    const CalcResult<double> norm = map.normaliser();
    if (!norm) return norm.failure();
    const std::optional<ProfileFarField> far = map.far_field(*norm);
    const std::vector<double> kinks = map.kinks();
    const double limb = map.piece(kinks.empty() ? 0.0 : kinks.back(), 1.0).at_end;  // P(1⁻)
    std::vector<double> points;
    points.reserve(kinks.size() + 3);
    PieceIntegrals pieces;
    const auto at = [limb](const FluxMap::Piece& piece, double r) { return AtRadius{r, kTwoPi * r, piece(r) - limb}; };
    const auto wanted = [limb](const FluxMap::Piece& piece) {
        return !(piece.smooth() && piece.at_start == limb && piece.at_end == limb);
    };
    std::vector<double> out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, taken together below
    for (const double li : l) {
        if (far && li >= kTableFarField) {
            if (interrupt::poll()) return interrupt::stopped();
            far_at.push_back(out.size());
            out.push_back(NAN);
            continue;
        }
        if (li > 0.0 && li < 1.0 && leading_terms_serve(li, rho, true)) {
            // A source far larger than the Einstein ring (models/centroid.hpp).
            if (interrupt::poll(static_cast<std::int32_t>(std::min<std::size_t>(kinks.size(), 1u << 20)) + 1)) {
                return interrupt::stopped();
            }
            out.push_back(large_source_shift(li, rho, map.enclosed(li), map(li), *norm));
            continue;
        }
        split_points(kinks, li, points);
        // Two integrals per position over the same nodes, the pair of ring functions about two ring
        // magnifications.
        if (interrupt::poll(2 * position_work(points))) return interrupt::stopped();
        // The uniform part without the disk function's checks (as the power law's ring route).
        const double disk = limb == 0.0 ? 0.0 : limb * (kPi * UniformDisk::value(li, near_rho));
        double magnification = disk, numerator = disk == 0.0 ? 0.0 : disk * UniformDiskCentroid::value(li, near_rho);
        pieces.gather(map, points, li, near_eps, rule, wanted);
        pieces.integrate_two(RingMagnificationAndCentroid{li, near_rho}, at, at);
        for (std::size_t j = 0; j < pieces.size(); ++j) {
            if (pieces.has_integral(j)) magnification += pieces.integral(j), numerator += pieces.second(j);
        }
        out.push_back(scale_free ? numerator / magnification * (rho / kScaleFreeRadius) : numerator / magnification);
    }
    if (far) {
        // The series in the map's moments over the same weights' magnification series, not
        // normalised (the normalisers cancel in the shift).
        ProfileFarField unnormalised = *far;
        unnormalised.mu0_over_norm = 1.0;
        unnormalised.values_at(l, rho, far_at, out);
        centroid_far_fields_at(l, rho, far->weights, far_at, out);
    }
    return out;
}

namespace {

// (∂W/∂u, ∂W/∂ρ) of the concentric disk of radius r: the lens at l/r of its radius, source radius
// r·ρ, with l − r formed from l and r themselves (exact near r = l, where the log sits).
struct ConcentricDiskDerivatives {
    double l, rho;
    std::pair<double, double> operator()(double r) const {
        const Gradient g = UniformDisk::concentric_derivatives(l, r, l - r, rho);
        return {g.d_u, g.d_rho};
    }
    // The same at many radii (bit for bit), the closed-form ones several at a time.
    void operator()(std::span<const double> r, std::span<double> d_u, std::span<double> d_rho) const {
        constexpr std::size_t kChunk = 64;
        std::array<double, kChunk> l_minus_r;
        for (std::size_t start = 0; start < r.size(); start += kChunk) {
            const std::size_t n = std::min(kChunk, r.size() - start);
            for (std::size_t k = 0; k < n; ++k) l_minus_r[k] = l - r[start + k];
            UniformDisk::concentric_derivatives(l, rho, r.subspan(start, n),
                                                std::span<const double>(l_minus_r.data(), n),
                                                d_u.subspan(start, n), d_rho.subspan(start, n));
        }
    }
};

// From this lens distance on the derivatives come from the map's far-field series: its weights reach
// k + 1 = 13, which the derivatives' term counts (chosen for weights up to 1 from l = 4 on) cover
// with room from here (at l = 8 the first omitted term is below 1e-18 of A/ρ even so). A map whose
// weights are all at most 1 in size (a profile falling toward the limb) takes the series from
// UniformDisk::kGradientFarField, as the laws do.
constexpr double kTableGradientFarField = 8.0;

double gradient_far_from(const ProfileFarField& far) {
    const bool unit = std::all_of(far.weights.begin(), far.weights.end(), [](double w) { return std::abs(w) <= 1.0; });
    return unit ? UniformDisk::kGradientFarField : kTableGradientFarField;
}

}  // namespace

// The map's magnifications (table_ring_route's, floored, bit for bit) with ∂A/∂u and ∂A/∂ρ: the
// disk route's integration by parts (table_disk_route) with F = πr²W(u, rρ) replaced by ∂F/∂u =
// πr²·W_u(u, rρ) and ∂F/∂ρ = πr³·W_ρ(u, rρ) (UniformDisk::concentric_derivatives):
//   ∂A/∂x = (1/N) Σ_pieces ([P ∂F/∂x]_a^b − slope·∫_a^b ∂F/∂x dr).
// The ends' terms telescope where P is continuous (so the infinite ones at r = l cancel: both count
// as 0); a jump of P (the map's ends inside the disk) leaves its own, infinite with the lens on it.
// With the lens on the limb and P(1⁻) ≠ 0 the derivatives are the full disk's ∓∞ times P(1⁻)π/N.
CalcResult<GradientLists> table_gradient_route(const std::vector<double>& l, double re, double rstar,
                                               std::span<const double> bl, std::span<const double> bf,
                                               const GradedRule& rule) {
    assert_equal_lengths(bl.size(), bf.size());
    const double eps = re / rstar, rho = rstar / re;
    const FluxMap map(bl, bf);
    const CalcResult<double> norm = map.normaliser();
    if (!norm) return norm.failure();
    const std::optional<ProfileFarField> far = map.far_field(*norm);
    const bool nonnegative = std::all_of(bf.begin(), bf.end(), [](double v) { return v >= 0.0; }) && *norm > 0.0;
    const double far_from = far ? gradient_far_from(*far) : HUGE_VAL;
    const std::vector<double> kinks = map.kinks();
    std::vector<double> points;
    points.reserve(kinks.size() + 3);
    PieceIntegrals pieces;
    // The values as table_ring_route takes them (the same pieces, nodes and sums, the far-field ones
    // after the loop, the same floor), bit for bit; the derivatives' integrals over the same gathered
    // pieces where the value has them (the sloped pieces are among its pieces, with the same rule and
    // singular points, so the same nodes).
    std::vector<double> values;
    values.reserve(l.size());
    std::vector<std::size_t> value_far_at;
    GradientLists out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, taken together below
    std::vector<double> end_r, end_l_minus_r, end_d_u, end_d_rho;  // per piece, reused
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double li = l[i];
        Gradient g{NAN, NAN, NAN};
        const bool value_far = far && li >= kTableFarField;
        if (value_far) {
            value_far_at.push_back(values.size());
            values.push_back(NAN);
        }
        if (far && li >= far_from) {
            if (interrupt::poll()) return interrupt::stopped();
            far_at.push_back(i);  // the series' derivatives, below
            out.push_back(g);
            continue;
        }
        split_points(kinks, li, points);
        if (interrupt::poll(3 * position_work(points))) return interrupt::stopped();
        if (!value_far) values.push_back(ring_integral(pieces, map, points, li, re, rstar, kTableRule) / *norm);
        if (!(li >= 0.0)) {  // no lens position (negative or NaN): nothing to integrate
            out.push_back(g);
            continue;
        }
        // The value's pieces serve when it took them with this rule; otherwise the sloped ones alone.
        if (value_far || &rule != &kTableRule) {
            pieces.gather(map, points, li, eps, rule, [](const FluxMap::Piece& piece) { return piece.line.slope != 0.0; });
        }
        pieces.integrate_two(
            ConcentricDiskDerivatives{li, rho},
            [](const FluxMap::Piece&, double r) { return AtRadius{r, kPi * r * r, 1.0}; },
            [](const FluxMap::Piece&, double r) { return AtRadius{r, kPi * r * r * r, 1.0}; });
        // The disks' derivatives at every piece's end, taken together (in lanes).
        const std::size_t ends = pieces.size();
        end_r.assign(points.begin() + 1, points.begin() + 1 + static_cast<std::ptrdiff_t>(ends));
        end_l_minus_r.resize(ends), end_d_u.resize(ends), end_d_rho.resize(ends);
        for (std::size_t j = 0; j < ends; ++j) end_l_minus_r[j] = li - end_r[j];
        UniformDisk::concentric_derivatives(li, rho, end_r, end_l_minus_r, end_d_u, end_d_rho);
        double d_u = 0.0, d_rho = 0.0;
        Gradient at_a{NAN, 0.0, 0.0};  // the disk's derivatives at the piece's start (unused at r = 0)
        for (std::size_t j = 0; j < pieces.size(); ++j) {
            const FluxMap::Piece& piece = pieces.piece(j);
            const double a = points[j], b = points[j + 1];
            const Gradient at_b{NAN, end_d_u[j], end_d_rho[j]};
            const bool limb = j + 1 == pieces.size();
            // The limb's term keeps an infinity (the lens on the limb of a map bright there).
            auto end_term = [&](double f) {
                const double t = f * piece.at_end;
                return limb ? (piece.at_end == 0.0 ? 0.0 : t) : finite_or_zero(t);
            };
            const double end_u = end_term(kPi * b * b * at_b.d_u);
            const double end_rho = end_term(kPi * b * b * b * at_b.d_rho);
            const double start_u = a == 0.0 ? 0.0 : finite_or_zero(kPi * a * a * at_a.d_u * piece.at_start);
            const double start_rho = a == 0.0 ? 0.0 : finite_or_zero(kPi * a * a * a * at_a.d_rho * piece.at_start);
            if (!limb && b == li) {
                // The lens on a jump of P (an end of the map): the jump's term is W's infinity.
                const double jump = piece.at_end - pieces.piece(j + 1).at_start;
                if (jump != 0.0) d_u += kPi * b * b * at_b.d_u * jump, d_rho += kPi * b * b * b * at_b.d_rho * jump;
            }
            // Only a sloped piece has an integral here (a flat one the value gathered has slope 0).
            const double slope = piece.line.slope;
            const bool sloped = pieces.has_integral(j) && slope != 0.0;
            d_u += end_u - start_u - (sloped ? slope * pieces.integral(j) : 0.0);
            d_rho += end_rho - start_rho - (sloped ? slope * pieces.second(j) : 0.0);
            at_a = at_b;
        }
        g.d_u = d_u / *norm;
        g.d_rho = d_rho / *norm;
        out.push_back(g);
    }
    if (far) far->values_at(l, rho, value_far_at, values);
    const CalcResult<std::vector<double>> floored_values =
        floored(std::move(values), l, rho, nonnegative, Floor::at_one);
    if (!floored_values) return floored_values.failure();
    out.value = *floored_values;
    if (far) UniformDisk::far_field_gradients_at(l, rho, far->weights, far->mu0_over_norm, far_at, out);
    return out;
}

}  // namespace velmora::integrated
