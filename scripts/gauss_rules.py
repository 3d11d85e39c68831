"""Write src/numerics/quadrature/gauss_rules.hpp: Gauss–Legendre and Gauss–Jacobi rules on [-1, 1].

The roots of P_n are found by Newton's method at 50 digits from the Tricomi estimate
cos(π(k − 1/4)/(n + 1/2)); the weights are 2/((1 − x²)P_n'(x)²). The Gauss–Jacobi rules for the
weights (1 − x)^(±1/2) polish SciPy's double-precision roots of P_n^(α,0) by Newton's method at 50
digits, with the weights of Szegő's "Orthogonal Polynomials" (15.3.5); each rule is checked to
integrate x^j, j < 2n, to 35 digits. Every value is rounded once, to the nearest double.
Run from the repository root: python scripts/gauss_rules.py (needs mpmath and SciPy)
"""
import pathlib

import mpmath as mp
from scipy.special import roots_jacobi

SIZES = (2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 20, 24, 28, 32, 40)
OUT = pathlib.Path(__file__).resolve().parent.parent / "src/numerics/quadrature/gauss_rules.hpp"


def legendre(n, x):
    """P_n(x) and P_n'(x) by the three-term recurrence."""
    p0, p1 = mp.mpf(1), x
    for k in range(2, n + 1):
        p0, p1 = p1, ((2 * k - 1) * x * p1 - (k - 1) * p0) / k
    return p1, n * (x * p1 - p0) / (x * x - 1)


def rule(n):
    nodes = []
    for k in range(1, n // 2 + 1):
        x = mp.cos(mp.pi * (k - mp.mpf(1) / 4) / (n + mp.mpf(1) / 2))
        for _ in range(100):
            p, dp = legendre(n, x)
            step = p / dp
            x -= step
            if abs(step) < mp.mpf(10) ** (-45):
                break
        _, dp = legendre(n, x)
        nodes.append((x, 2 / ((1 - x * x) * dp * dp)))
    if n % 2:
        _, dp = legendre(n, mp.mpf(0))
        nodes.append((mp.mpf(0), 2 / (dp * dp)))
    # positive abscissae, ascending; the centre node (odd n) first
    return sorted(nodes)


# The exponents α of the Jacobi weights (1 − x)^α tabulated, and their names in the header.
JACOBI = ((mp.mpf(1) / 2, "Half"), (-mp.mpf(1) / 2, "MinusHalf"))


def jacobi(n, alpha, x):
    """P_n^(α,0)(x) and its derivative, by the three-term recurrence (Szegő 4.5.1)."""
    p0, p1 = mp.mpf(1), (alpha + 1) + (alpha + 2) * (x - 1) / 2
    for k in range(2, n + 1):
        c = 2 * k + alpha
        p0, p1 = p1, ((c - 1) * (c * (c - 2) * x + alpha * alpha) * p1
                      - 2 * (k + alpha - 1) * (k - 1) * c * p0) / (2 * k * (k + alpha) * (c - 2))
    # (2n + α)(1 − x²)P_n' = n(α − (2n + α)x)P_n + 2(n + α)n·P_{n−1}
    c = 2 * n + alpha
    return p1, (n * (alpha - c * x) * p1 + 2 * (n + alpha) * n * p0) / (c * (1 - x * x))


def jacobi_rule(n, alpha):
    """Nodes ascending, with weights Γ(n+α+1)Γ(n+1)/(Γ(n+α+1)n!)·2^(α+1)/((1 − x²)P_n'(x)²)."""
    nodes = []
    for guess in roots_jacobi(n, float(alpha), 0.0)[0]:
        x = mp.mpf(guess)
        for _ in range(100):
            p, dp = jacobi(n, alpha, x)
            step = p / dp
            x -= step
            if abs(step) < mp.mpf(10) ** (-45):
                break
        _, dp = jacobi(n, alpha, x)
        nodes.append((x, 2 ** (alpha + 1) / ((1 - x * x) * dp * dp)))
    nodes.sort()
    for j in range(2 * n):
        # with t = 1 − x: ∫₀² t^α (1 − t)^j dt = Σ_i C(j, i)(−1)^i 2^(α+i+1)/(α + i + 1)
        # (at 100 digits: the alternating sum cancels up to 2^(j+1)·C(j, j/2))
        with mp.workdps(100):
            exact = mp.fsum(mp.binomial(j, i) * (-1) ** i * 2 ** (alpha + i + 1) / (alpha + i + 1) for i in range(j + 1))
        got = mp.fsum(w * x**j for x, w in nodes)
        assert abs(got - exact) < mp.mpf(10) ** -35, (n, alpha, j)
    return nodes


def main():
    mp.mp.dps = 50
    lines = [
        "// Gauss–Legendre rules on [−1, 1], written by scripts/gauss_rules.py (do not edit by hand).",
        "//",
        "// For each size n: the non-negative roots x_k of P_n, ascending, with their weights",
        "// 2/((1 − x²)·P_n′(x)²), found at 50 digits and rounded once to the nearest double. −x_k carries",
        "// the weight of x_k; for odd n the first entry is the centre node x = 0, counted once.",
        "#pragma once",
        "",
        "#include <array>",
        "#include <cstddef>",
        "",
        "#include \"numerics/quadrature/node.hpp\"",
        "",
        "namespace velmora::gauss_rules {",
        "",
        "using Node = QuadratureNode;",
        "",
        "struct Rule {",
        "    int size;            // n",
        "    const Node* nodes;   // (n + 1)/2 entries (Gauss–Legendre), n entries (Gauss–Jacobi)",
        "};",
        "",
    ]
    for n in SIZES:
        body = ",\n".join(f"    {{{float(x)!r}, {float(w)!r}}}"
                          for x, w in rule(n))
        lines += [f"inline constexpr Node kNodes{n}[] = {{", body, "};"]
    lines += ["", "// The sizes available, ascending.", f"inline constexpr std::array<Rule, {len(SIZES)}> kRules = {{{{"]
    lines += [f"    Rule{{{n}, kNodes{n}}}," for n in SIZES]
    lines += ["}};", ""]
    lines += [
        "// Gauss–Jacobi rules for ∫₋₁¹ (1 − x)^α g(x) dx, α = ±1/2, of the same sizes: all n nodes,",
        "// ascending, with their weights.",
    ]
    for alpha, name in JACOBI:
        for n in SIZES:
            body = ",\n".join(f"    {{{float(x)!r}, {float(w)!r}}}" for x, w in jacobi_rule(n, alpha))
            lines += [f"inline constexpr Node kJacobi{name}{n}[] = {{", body, "};"]
        lines += [f"inline constexpr std::array<Rule, {len(SIZES)}> kJacobi{name} = {{{{"]
        lines += [f"    Rule{{{n}, kJacobi{name}{n}}}," for n in SIZES]
        lines += ["}};", ""]
    lines += ["}  // namespace velmora::gauss_rules", ""]
    OUT.write_text("\n".join(lines))


if __name__ == "__main__":
    main()
