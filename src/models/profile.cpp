#include "models/profile.hpp"

#include <algorithm>
#include <cmath>

#include "models/interrupt.hpp"
#include "numerics/interp/linear.hpp"
#include "numerics/quadrature/gauss_legendre.hpp"
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

Profile::Profile(std::span<const double> bl, std::span<const double> bf)
    : ordered_(true), bl_(bl), bf_(bf), table_(bl, bf) {
    const std::size_t m = std::min(bl.size(), bf.size());
    for (std::size_t i = 0; i < m; ++i) {
        if (std::isnan(bl[i]) || (i > 0 && bl[i] < bl[i - 1])) ordered_ = false;
    }
}

Profile Profile::flux_map(std::span<const double> bl, std::span<const double> bf) { return Profile(bl, bf); }

double Profile::operator()(double r) const {
    return table_(r, Extrapolation::filled(0.0));  // interp(bl, bf, r, Fill 0)
}

std::vector<double> Profile::kinks() const {
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

CalcResult<double> Profile::normaliser() const {
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

Profile::Piece Profile::piece(double a, double b) const { return piece_at(a, b, nullptr); }

Profile::Piece Profile::piece(double a, double b, std::size_t& cursor) const { return piece_at(a, b, &cursor); }

Profile::Piece Profile::piece_at(double a, double b, std::size_t* cursor) const {
    if (std::min(bl_.size(), bf_.size()) == 1) {
        return Piece{a, b, bf_[0], bf_[0], Segment{0.0, bf_[0]}, nullptr};
    }
    Segment segment;
    const Profile* lookup = ordered_ ? nullptr : this;
    if (!table_segment(table_, bl_, bf_, a, b, &segment, cursor)) {
        return Piece{a, b, 0.0, 0.0, Segment{0.0, 0.0}, lookup};
    }
    return Piece{a, b, segment.at(a), segment.at(b), segment, lookup};
}

}  // namespace velmora
