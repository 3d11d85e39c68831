"""Write src/models/small_source_series.hpp: the small-source series of a law of integer powers.

A source of radius ρ in Einstein radii with brightness μ^p, μ = √(1 − r²) (r in source radii), and
the lens at l ≤ 1 source radii from its centre: the flux magnified is
    J_p(l) = ∫∫ μ^p A(ρ|r − l|) d²r,   A(s) = (s² + 2)/(s√(s² + 4)) = Σ_j a_j s^(2j−1)  (s < 2),
a_j = b_j + b_(j−1)/2 with b_i = C(−1/2, i)/4^i, so
    J_p(l) = Σ_j a_j ρ^(2j−1) W_j(m),   W_j(m) = ∫∫ μ^p |r − l|^(2j−1) d²r,   m = l²,
and |r − l| ≤ 2 bounds the j-th term by |a_j|(2ρ)^(2j) of the leading one's scale.

W_0 is the potential of μ^p under the kernel 1/|x|. Averaging that kernel over the ring of radius r
gives (2π/max(r, l))·₂F₁(½, ½; 1; (min/max)²); integrating over r, the odd powers of l cancel and
    W_0(m) = π Σ_n f_n B(½ − n, p/2 + 1) m^n,   f_n = ((½)_n/n!)²,
B continued analytically. For odd p the series ends (1/Γ of a non-positive integer): W_0 is π² times
a polynomial (Galin's theorem; p = 1 gives (π²/4)(2 − m)). For even p it is a combination
P(m)E(m) + Q(m)K(m) of the complete elliptic integrals with polynomial P and Q (p = 0 gives 4E).
Every W_j follows from the one before: the plane Laplacian of |x|^(2j−1) is (2j − 1)²|x|^(2j−3),
and on radial functions it is 4 d/dm(m d/dm), so
    4 (m W_j')' = (2j − 1)² W_(j−1),   W_j(0) = π B(j + ½, p/2 + 1),
which maps Taylor coefficients to Taylor coefficients; the polynomial (odd p) or P and Q (even p)
are then found from the series by exact linear algebra over the rationals, and the script checks
that they reproduce the next coefficients too (so the form holds to the order checked). Q vanishes
at m = 1, where K diverges: the header holds T = Q/(1 − m), and W_j = P·E + T·(1 − m)K.

Outside the source (m > 1) the kernel's ring average is l^(2j−1)·₂F₁(½ − j, ½ − j; 1; r²/l²), so
    W_j(l) = π l^(2j−1) Σ_n ((½ − j)_n/n!)² B(n + 1, p/2 + 1) z^n,   z = 1/m,
the far-field expansion, which converges too slowly near the limb to be summed there. Its closed
form, found the same way from these coefficients, is z^−s·(P(z)E(z) + Q(z)K(z)) with E and K at the
parameter z for even p, and π·z^−s·(P(z)·arcsin(√z)/√z + Q(z)·√(1 − z)) for odd p (p = 1, j = 0 is
the hemisphere's potential (π/2)((2 − m)·arcsin(1/l) + √(m − 1))), P and Q of degree k = j + s at
most. Times l^(2j−1) = l^(2k−1)·z^s these are 1/l times polynomials of degree k in m: the header
holds P̃(m) = m^k·P(1/m) and, for even p, T̃ = Q̃/(m − 1) with Q̃ = m^k·Q(1/m) (Q vanishes at z = 1,
where K diverges), so that
    W_j = (P̃(m)·E(z) + T̃(m)·m(1 − z)K(z))/l   (even p),
    W_j = π(P̃(m)·l·arcsin(1/l) + Q̃(m)·√(1 − z))/l   (odd p).
The poles z^−s cancel as l grows: at l = 3 the leading term of p = 2 loses 360 of its precision
and p = 4 would lose 3450, so the outside forms are tabulated for p ≤ MOST_OUTSIDE_POWER only.

Exact rational arithmetic throughout (no SymPy needed; tests/test_reference_data.py checks the
header is this script's output and the forms against mpmath); each coefficient is rounded once to the
nearest double (π² from its decimal expansion to 40 digits). Takes a few seconds.
Run from the repository root: python scripts/small_source_series.py
"""
import pathlib
from fractions import Fraction as F
from math import factorial

MOST_POWER = 8  # the powers p = 0..8 inside the source
MOST_OUTSIDE_POWER = 3  # and p = 0..3 outside it
TERMS = 11  # j = 0..10
CHECK = 24  # Taylor coefficients checked beyond those the fit used
KE_BELOW, KE_TERMS = 0.1, 17  # (K − E)/m by its Taylor series below m = 0.1: 0.1^16/17 < 1e-17
PI = F("3.14159265358979323846264338327950288419716939937510582097494459")  # π to 63 digits
PI2 = PI * PI
OUT = pathlib.Path(__file__).resolve().parent.parent / "src/models/small_source_series.hpp"


def f(n):
    v = F(1)
    for i in range(n):
        v *= F(2 * i + 1, 2 * (i + 1))
    return v * v


def a(j):
    def b(i):
        v = F(1)
        for k in range(i):
            v = v * (F(-1, 2) - k) / (k + 1)
        return v / 4**i

    return b(j) + (b(j - 1) / 2 if j else 0)


def centroid_coefficient(i):
    """The coefficients of g(s)/s = (s² + 3)/(s√(s² + 4)) = Σ_i e_i s^(2i−1), g the images' light-weighted
    centroid distance: (1/2)(3β_i + β_(i−1)), β_i = C(−1/2, i)/4^i."""
    def beta(k):
        v = F(1)
        for q in range(k):
            v = v * (F(-1, 2) - q) / (q + 1)
        return v / 4**k

    return (3 * beta(i) + (beta(i - 1) if i else 0)) / 2


def half_gamma(i):
    """Γ(i + ½)/√π for an integer i ≥ 0."""
    return F(factorial(2 * i), 4**i * factorial(i))


def w0_taylor(p, count):
    """Taylor coefficients of W_0/π (even p) or W_0/π² (odd p)."""
    k, out = p // 2, []
    for n in range(count):
        if p % 2 == 0:
            # B(½ − n, k + 1) = k!/Π_{i=0..k}(½ − n + i)
            b = F(factorial(k))
            for i in range(k + 1):
                b /= F(1, 2) - n + i
        elif n <= k + 1:
            # B(½ − n, k + 3/2)/π = Γ(½ − n)Γ(k + 3/2)/(π (k + 1 − n)!), Γ(½ − n) = √π (−4)^n n!/(2n)!
            b = F((-4) ** n * factorial(n), factorial(2 * n)) * half_gamma(k + 1) / factorial(k + 1 - n)
        else:
            b = F(0)
        out.append(f(n) * b)
    return out


def w_at_zero(j, p):
    """W_j(0) = π B(j + ½, p/2 + 1), over π (even p) or π² (odd p)."""
    k = p // 2
    if p % 2 == 0:
        b = F(factorial(k))
        for i in range(k + 1):
            b /= F(2 * j + 1, 2) + i
        return b
    return half_gamma(j) * half_gamma(k + 1) / factorial(j + k + 1)


def solve(rows, rhs):
    """The exact solution of a square rational system (Gaussian elimination with pivoting on non-zero)."""
    n = len(rows)
    m = [list(r) + [v] for r, v in zip(rows, rhs)]
    for c in range(n):
        pivot = next(r for r in range(c, n) if m[r][c] != 0)
        m[c], m[pivot] = m[pivot], m[c]
        for r in range(n):
            if r != c and m[r][c] != 0:
                ratio = m[r][c] / m[c][c]
                m[r] = [x - ratio * y for x, y in zip(m[r], m[c])]
    return [m[r][n] / m[r][r] for r in range(n)]


def fit(target, first, second, degree):
    """P and Q of degree ≤ `degree` with P·first + Q·second = target (Taylor coefficients, as many of
    each), found from the first 2(degree + 1) coefficients and checked on the rest; or None."""
    count = len(target)
    unknowns = 2 * (degree + 1)

    def row(n):
        return [first[n - d] if n >= d else F(0) for d in range(degree + 1)] + [
            second[n - d] if n >= d else F(0) for d in range(degree + 1)]

    try:
        x = solve([row(n) for n in range(unknowns)], target[:unknowns])
    except StopIteration:
        return None
    if any(sum(c * v for c, v in zip(row(n), x)) != target[n] for n in range(unknowns, count)):
        return None
    return x[:degree + 1], x[degree + 1:]


def elliptic_form(w, degree):
    """P and Q of degree ≤ `degree` with P·E/π + Q·K/π = w (Taylor coefficients), or None."""
    count = len(w)
    return fit(w, [f(n) / (1 - 2 * n) / 2 for n in range(count)], [f(n) / 2 for n in range(count)], degree)


def polynomials(p):
    """For j = 0..TERMS − 1: ('R', π²·R) for odd p, or ('EK', P, T) for even p, lowest power first."""
    out, w = [], None
    count = TERMS + MOST_POWER + 2 * CHECK
    for j in range(TERMS):
        w = w0_taylor(p, count) if j == 0 else [w_at_zero(j, p)] + [
            F((2 * j - 1) ** 2, 4) * w[n] / (n + 1) ** 2 for n in range(count - 1)]
        if p % 2:
            degree = max(n for n, c in enumerate(w) if c != 0)
            assert degree < count - CHECK, f"W_{j} of p = {p} is not a polynomial"
            out.append(("R", [PI2 * c for c in w[:degree + 1]]))
            continue
        form = None
        for degree in range(j + p // 2, j + p // 2 + 3):
            form = elliptic_form(w[:degree * 2 + 2 + CHECK], degree)
            if form:
                break
        assert form, f"W_{j} of p = {p} is not P·E + Q·K"
        P, Q = form
        while len(P) > 1 and P[-1] == 0 and Q[-1] == 0:
            P, Q = P[:-1], Q[:-1]
        # T = Q/(1 − m): synthetic division, exact (Q(1) = 0 since W_j is finite on the limb).
        assert sum(Q) == 0, f"Q of W_{j}, p = {p}, does not vanish at m = 1"
        T, carry = [], F(0)
        for q in reversed(Q[1:]):  # Q = (1 − m)·T: q_i = t_i − t_(i−1)
            carry = carry - q if not T else T[-1] - q
            T.append(carry)
        T = list(reversed(T)) if T else [F(0)]
        check = [(T[i] if i < len(T) else 0) - (T[i - 1] if 0 < i <= len(T) else 0) for i in range(len(Q))]
        assert check == Q, f"T of W_{j}, p = {p}"
        out.append(("EK", P, T))
    return out


def outside_taylor(p, j, count):
    """Taylor coefficients in z of W_j/(π l^(2j−1)) outside the source."""
    out, c = [], F(1)
    for n in range(count):
        if n:
            c = c * (F(1, 2) - j + n - 1) / n
        b = F(factorial(n))
        for i in range(1, n + 2):
            b /= F(p, 2) + i
        out.append(c * c * b)
    return out


def outside_basis(p, count):
    """Taylor coefficients of the two functions of z the form combines: E/π and K/π for even p,
    arcsin(√z)/√z and √(1 − z) for odd p."""
    if p % 2 == 0:
        return [f(n) / (1 - 2 * n) / 2 for n in range(count)], [f(n) / 2 for n in range(count)]
    first, second = [], []
    for n in range(count):
        h = F(1)
        for i in range(n):
            h *= F(2 * i + 1, 2) / (i + 1)
        first.append(h / (2 * n + 1))
        g = F(1)
        for i in range(n):
            g *= (F(1, 2) - i) / (i + 1)
        second.append(g * (-1) ** n)
    return first, second


def fit_outside(v, first, second, degree, s):
    """P and Q of degree ≤ `degree` with P·first + Q·second = z^s·v, or None."""
    return fit([F(0)] * s + v[:len(v) - s], first, second, degree)


def outside_polynomials(p):
    """For j = 0..TERMS − 1, the polynomials in m of the outside form: (P̃, T̃) for even p, (πP̃, πQ̃) for
    odd p, lowest power first."""
    out = []
    count = 2 * (TERMS + 8) + CHECK
    first, second = outside_basis(p, count)
    for j in range(TERMS):
        v = outside_taylor(p, j, count)
        form = None
        for s in range(0, 8):
            k = j + s
            form = fit_outside(v, first, second, k, s)
            if form:
                break
        assert form, f"W_{j} of p = {p} outside the source has no closed form of the kind sought"
        P, Q = form
        # m^k·P(1/m): the coefficients reversed.
        P_m, Q_m = list(reversed(P)), list(reversed(Q))
        if p % 2:
            # R̃ = (Q̃ − m·P̃)/(m − 1), exact since Q̃(1) = P̃(1) (W_j' is finite on the limb): the
            # derivative's terms in 1/√(1 − z), (z²/(2√(1 − z)))·(Q̃ − mP̃), are (z/2)·√(1 − z)·R̃.
            diff = [(Q_m[i] if i < len(Q_m) else 0) - (P_m[i - 1] if 0 < i <= len(P_m) else 0)
                    for i in range(max(len(Q_m), len(P_m) + 1))]
            assert sum(diff) == 0, f"W_{j}' of p = {p} outside is not finite on the limb"
            R, carry = [], F(0)
            for q in reversed(diff[1:]):  # diff = (m − 1)·R̃, from the top: r_(i−1) = q_i + r_i
                carry = q + carry
                R.append(carry)
            R = list(reversed(R))
            check = [(R[i - 1] if 0 < i <= len(R) else 0) - (R[i] if i < len(R) else 0) for i in range(len(diff))]
            assert check == diff, f"R of W_{j}, p = {p}, outside"
            out.append(([PI * c for c in P_m], [PI * c for c in Q_m], [PI * c for c in R]))
            continue
        # T̃ = Q̃/(m − 1): synthetic division, exact since Q̃(1) = Q(1) = 0.
        assert sum(Q_m) == 0, f"Q of W_{j}, p = {p}, outside does not vanish at the limb"
        T, carry = [], F(0)
        for q in reversed(Q_m[1:]):  # Q̃ = (m − 1)·T̃, from the top: t_(i−1) = q_i + t_i
            carry = q + carry
            T.append(carry)
        T = list(reversed(T))
        check = [(T[i - 1] if 0 < i <= len(T) else 0) - (T[i] if i < len(T) else 0) for i in range(len(Q_m))]
        assert check == Q_m, f"T of W_{j}, p = {p}, outside"
        out.append((P_m, T, []))
    return out


def table_rows(table):
    """A Polynomials table's initialiser rows, one per p and j, and its closing brace."""
    lines = []
    for p, row in enumerate(table):
        lines.append(f"    {{  // p = {p}")
        for j, e in enumerate(row):
            lines.append(f"        {{{e[0]}, {e[1]}, {e[2]}, {e[3]}}},  // j = {j}")
        lines.append("    },")
    return lines + ["};"]


def render():
    """The header's text."""
    table, flat = [], []

    def put(values):
        at = len(flat)
        flat.extend(values)
        return at, len(values)

    for p in range(MOST_POWER + 1):
        row = []
        for entry in polynomials(p):
            if entry[0] == "R":
                row.append((*put(entry[1]), 0, 0))
            else:
                row.append((*put(entry[1]), *put(entry[2])))
        table.append(row)
    outside, outside_slope = [], []
    for p in range(MOST_OUTSIDE_POWER + 1):
        rows = outside_polynomials(p)
        outside.append([(*put(first), *put(second)) for first, second, _ in rows])
        outside_slope.append([(*put(third), 0, 0) for _, _, third in rows])
    most = max(max(e[1], e[3]) for rows in (table, outside) for row in rows for e in row)
    lines = [
        "// Generated by scripts/small_source_series.py; do not edit.",
        "// The small-source series of a law of integer powers (models/small_source.hpp); inside the source",
        "//   J_p(l) = Σ_j kA[j] ρ^(2j−1) W_j^(p)(m),   m = l² ≤ 1,",
        "//   W_j^(p) = π²·R(m) for odd p,   P(m)·E(m) + T(m)·(1 − m)·K(m) for even p,",
        "// each polynomial's coefficients in kCoefficients from the constant term up, at the offset and",
        "// length kPolynomials[p][j] gives (R in the first pair; the second pair empty for odd p). Each",
        "// coefficient is the nearest double to the exact rational (times π² for odd p).",
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        "namespace velmora::small_source_series {",
        "",
        f"inline constexpr int kMostPower = {MOST_POWER};",
        f"inline constexpr std::size_t kTerms = {TERMS};",
        f"inline constexpr std::size_t kMostLength = {most};",
        "",
        "// a_j, j = 0..kTerms + 3, of A(s) = Σ_j a_j s^(2j−1) (exact: dyadic rationals); the last four",
        "// bound the omitted terms.",
        "inline constexpr double kA[] = {" + ", ".join(repr(float(a(j))) for j in range(TERMS + 4)) + "};",
        "",
        "// e_i, i = 0..kTerms + 3, of g(s)/s = (s² + 3)/(s√(s² + 4)) = Σ_i e_i s^(2i−1) (the centroid's series).",
        "inline constexpr double kE[] = {" + ", ".join(repr(float(centroid_coefficient(i))) for i in range(TERMS + 4)) + "};",
        "",
        "// (K(m) − E(m))/m = Σ_n kKMinusE[n]·m^n for small m (the derivatives' form, where K − E cancels),",
        f"// {KE_TERMS} terms: (π/2)·f_(n+1)·(2n + 2)/(2n + 1), f_n = ((½)_n/n!)² (each term below 1e-17 of the",
        "// sum for m ≤ kKMinusEBelow).",
        f"inline constexpr double kKMinusEBelow = {KE_BELOW!r};",
        "inline constexpr double kKMinusE[] = {" + ", ".join(
            repr(float(PI / 2 * f(n + 1) * F(2 * n + 2, 2 * n + 1))) for n in range(KE_TERMS)) + "};",
        "",
        "struct Polynomials {",
        "    std::uint16_t first_at, first_length, second_at, second_length;",
        "};",
        "",
        f"inline constexpr Polynomials kPolynomials[{MOST_POWER + 1}][{TERMS}] = {{",
    ]
    lines += table_rows(table)
    lines += [
        "",
        "// Outside the source (m = l² > 1, z = 1/m), for p = 0..kMostOutsidePower:",
        "//   l·W_j^(p) = P̃(m)·E(z) + T̃(m)·m(1 − z)K(z) for even p,",
        "//   l·W_j^(p) = P̃(m)·l·arcsin(1/l) + Q̃(m)·√(1 − z) for odd p (π in the coefficients).",
        f"inline constexpr int kMostOutsidePower = {MOST_OUTSIDE_POWER};",
        f"inline constexpr Polynomials kOutside[{MOST_OUTSIDE_POWER + 1}][{TERMS}] = {{",
    ]
    lines += table_rows(outside)
    lines += [
        "",
        "// For odd p outside, R̃ = (Q̃ − m·P̃)/(m − 1) (π in the coefficients): the derivative's terms in",
        "// 1/√(1 − z) are (z/2)·√(1 − z)·R̃, no cancellation next to the limb. Empty for even p.",
        f"inline constexpr Polynomials kOutsideSlope[{MOST_OUTSIDE_POWER + 1}][{TERMS}] = {{",
    ]
    lines += table_rows(outside_slope)
    lines.append("")
    lines.append("inline constexpr double kCoefficients[] = {")
    for i in range(0, len(flat), 4):
        lines.append("    " + " ".join(f"{float(c)!r}," for c in flat[i:i + 4]))
    lines += ["};", "", "}  // namespace velmora::small_source_series", ""]
    return "\n".join(lines)


def main():
    OUT.write_text(render())
    print(f"wrote {OUT}")


if __name__ == "__main__":
    main()
