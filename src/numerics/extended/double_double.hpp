// Double-double arithmetic: a value held as an unevaluated sum hi + lo of two doubles, |lo| ≤ ulp(hi)/2,
// about 32 significant digits from IEEE doubles alone (no extended or quadruple formats, so the
// results are the same on every platform the build supports; the build forbids FMA contraction,
// which would break the exact products below).
//
// The error-free transformations are Knuth's TwoSum (The Art of Computer Programming, vol. 2,
// 3rd ed., §4.2.2, Theorem B) and Dekker's product with Veltkamp's split (T. J. Dekker, "A
// floating-point technique for extending the available precision", Numer. Math. 18 (1971) 224–242,
// mul12 and the split of §5); the sum, product, quotient and square root follow Dekker's add2,
// mul2, div2 and sqrt2 of the same paper, with the sum taking both low parts (the accurate variant).
// Used where a result is a small difference of large double-precision quantities and a few more
// digits decide the answer (models/centroid.cpp).
#pragma once

#include <cmath>

namespace velmora::extended {

struct DoubleDouble {
    double hi = 0.0;
    double lo = 0.0;

    constexpr DoubleDouble() = default;
    constexpr DoubleDouble(double x) : hi(x), lo(0.0) {}  // NOLINT: doubles convert exactly
    constexpr DoubleDouble(double h, double l) : hi(h), lo(l) {}
};

namespace dd_detail {

// a + b = s + e exactly (Knuth's TwoSum, any order of magnitude).
inline DoubleDouble two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a + b = s + e exactly when |a| ≥ |b| (Dekker's fast sum).
inline DoubleDouble quick_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Veltkamp's split: a = hi + lo with each half of 26 bits (exact for |a| < 2^996).
inline DoubleDouble split(double a) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    const double hi = t - (t - a);
    return {hi, a - hi};
}

// a·b = p + e exactly (Dekker's mul12).
inline DoubleDouble two_prod(double a, double b) {
    const double p = a * b;
    const DoubleDouble x = split(a), y = split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

}  // namespace dd_detail

inline DoubleDouble operator+(DoubleDouble a, DoubleDouble b) {
    using namespace dd_detail;
    DoubleDouble s = two_sum(a.hi, b.hi);
    const DoubleDouble t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = quick_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return quick_two_sum(s.hi, s.lo);
}

inline DoubleDouble operator-(DoubleDouble a) { return {-a.hi, -a.lo}; }
inline DoubleDouble operator-(DoubleDouble a, DoubleDouble b) { return a + (-b); }

inline DoubleDouble operator*(DoubleDouble a, DoubleDouble b) {
    using namespace dd_detail;
    DoubleDouble p = two_prod(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return quick_two_sum(p.hi, p.lo);
}

inline DoubleDouble operator/(DoubleDouble a, DoubleDouble b) {
    using namespace dd_detail;
    const double q1 = a.hi / b.hi;
    DoubleDouble r = a - DoubleDouble(q1) * b;
    const double q2 = r.hi / b.hi;
    r = r - DoubleDouble(q2) * b;
    const double q3 = r.hi / b.hi;
    return quick_two_sum(q1, q2) + DoubleDouble(q3);
}

inline DoubleDouble sqrt(DoubleDouble a) {
    using namespace dd_detail;
    if (!(a.hi > 0.0)) return {std::sqrt(a.hi), 0.0};
    const double s = std::sqrt(a.hi);
    const DoubleDouble r = a - two_prod(s, s);
    return quick_two_sum(s, r.hi / (2.0 * s));
}

inline DoubleDouble abs(DoubleDouble a) { return a.hi < 0.0 ? -a : a; }
inline double to_double(DoubleDouble a) { return a.hi + a.lo; }

}  // namespace velmora::extended
