#include "models/flux_map_profile.hpp"

#include <algorithm>
#include <cmath>

#include "models/interrupt.hpp"
#include "numerics/constants.hpp"
#include "numerics/interp/linear.hpp"
#include "numerics/quadrature/gauss_legendre.hpp"
#include "numerics/quadrature/gauss_rules.hpp"
#include "numerics/quadrature/tanh_sinh.hpp"

namespace velmora {
namespace {

// The table segment that holds the piece (a, b), or none if the piece lies outside the table.
// Pieces never straddle a knot, so their midpoint names the segment; it is found by bisection, or
// by the forward search from `cursor` for pieces taken in ascending order.
bool table_segment(const LinearTable& table, std::span<const double> bl, std::span<const double> bf, double a,
                   double b, Segment* out, std::size_t* cursor) {
    const std::size_t m = table.size();
    if (m == 0) return false;
    const double mid = 0.5 * (a + b);
    if (mid < bl[0] || mid > bl[m - 1]) return false;
    *out = m == 1 ? Segment{0.0, bf[0]} : cursor != nullptr ? table.segment(mid, *cursor) : table.segment(mid);
    return true;
}

}  // namespace

FluxMap::FluxMap(std::span<const double> bl, std::span<const double> bf)
    : ordered_(true), bl_(bl), bf_(bf), table_(bl, bf) {
    const std::size_t m = std::min(bl.size(), bf.size());
    for (std::size_t i = 0; i < m; ++i) {
        if (std::isnan(bl[i]) || (i > 0 && bl[i] < bl[i - 1])) ordered_ = false;
    }
}

double FluxMap::operator()(double r) const {
    return table_(r, Extrapolation::filled(0.0));  // interp(bl, bf, r, Fill 0)
}

std::vector<double> FluxMap::kinks() const {
    std::vector<double> out;
    const std::size_t m = std::min(bl_.size(), bf_.size());
    if (m < 2) return out;  // a one-knot table is constant everywhere
    for (std::size_t i = 0; i < m; ++i) {
        if (bl_[i] > 0.0 && bl_[i] < 1.0) out.push_back(bl_[i]);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

CalcResult<double> FluxMap::normaliser() const {
    const std::vector<double> inside = kinks();
    double total = 0.0;
    double a = 0.0;
    for (std::size_t i = 0; i <= inside.size(); ++i) {
        if (interrupt::poll(10)) return interrupt::stopped();
        const double b = i < inside.size() ? inside[i] : 1.0;
        const Piece p = piece(a, b);
        auto integrand = [&](double r) { return (constants::kTwoPi * r) * p(r); };
        total += p.smooth() ? gauss_legendre(integrand, a, b) : integrate(integrand, a, b, kUnorderedTarget).integral;
        a = b;
    }
    return total;
}

double FluxMap::enclosed(double l) const {
    const std::vector<double> inside = kinks();
    double total = 0.0;
    double a = 0.0;
    for (std::size_t i = 0; i <= inside.size() && a < l; ++i) {
        const double b = std::min(i < inside.size() ? inside[i] : 1.0, l);
        const Piece p = piece(a, b);
        auto integrand = [&](double r) { return (constants::kTwoPi * r) * p(r); };
        total += p.smooth() ? gauss_legendre(integrand, a, b) : integrate(integrand, a, b, kUnorderedTarget).integral;
        a = b;
    }
    return total;
}

// Per piece between 0, the kinks and 1, with the 14-point rule, exact for the polynomial of degree
// ≤ 26 a line times r^(2k+1) is.
std::array<double, FluxMap::kTerms + 1> FluxMap::moments() const {
    std::vector<double> points = kinks();
    points.insert(points.begin(), 0.0);
    points.push_back(1.0);
    std::array<double, kTerms + 1> mu{};
    const gauss_rules::Rule& fourteen = gauss_rules::kRules[9];
    static_assert(gauss_rules::kRules[9].size == 14 && 2 * 14 - 1 >= 2 * kTerms + 2);
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const double a = points[i], b = points[i + 1];
        const Piece p = piece(a, b);
        const double c = 0.5 * (b - a), d = 0.5 * (a + b);
        // Σ_nodes weight·2πr·P(r)·(r²)^k for all k at once, the powers built up by multiplication
        for (std::size_t j = 0; j < static_cast<std::size_t>(fourteen.size) / 2; ++j) {
            const gauss_rules::Node& node = fourteen.nodes[j];
            for (const double xi : {-node.abscissa, node.abscissa}) {
                const double r = d + c * xi, r2 = r * r;
                double term = c * node.weight * constants::kTwoPi * r * p(r);
                for (double& m : mu) m += term, term *= r2;
            }
        }
    }
    return mu;
}

std::optional<ProfileFarField> FluxMap::far_field(double norm) const {
    if (!ordered_) return std::nullopt;
    for (const double v : bf_) {
        if (!(v >= 0.0)) return std::nullopt;
    }
    const std::array<double, kTerms + 1> mu = moments();
    if (!(mu[0] > 0.0) || !(norm > 0.0)) return std::nullopt;
    ProfileFarField out{};
    for (std::size_t k = 1; k < mu.size(); ++k) out.weights[k - 1] = static_cast<double>(k + 1) * mu[k] / mu[0];
    out.mu0_over_norm = mu[0] / norm;
    return out;
}

FluxMap::Piece FluxMap::piece(double a, double b) const { return piece_at(a, b, nullptr); }

FluxMap::Piece FluxMap::piece(double a, double b, std::size_t& cursor) const { return piece_at(a, b, &cursor); }

FluxMap::Piece FluxMap::piece_at(double a, double b, std::size_t* cursor) const {
    if (std::min(bl_.size(), bf_.size()) == 1) {
        return Piece{a, b, bf_[0], bf_[0], Segment{0.0, bf_[0]}, nullptr};
    }
    Segment segment;
    const FluxMap* lookup = ordered_ ? nullptr : this;
    if (!table_segment(table_, bl_, bf_, a, b, &segment, cursor)) {
        return Piece{a, b, 0.0, 0.0, Segment{0.0, 0.0}, lookup};
    }
    return Piece{a, b, segment.at(a), segment.at(b), segment, lookup};
}

}  // namespace velmora
