"""Write src/numerics/quadrature/gauss_rules.hpp: Gauss–Legendre rules on [-1, 1].

The roots of P_n are found by Newton's method at 50 digits from the Tricomi estimate
cos(π(k − 1/4)/(n + 1/2)); the weights are 2/((1 − x²)P_n'(x)²). Every value is rounded once, to
the nearest double. Run from the repository root: python scripts/gauss_rules.py
"""
import pathlib

import mpmath as mp

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
        "namespace velmora::gauss_rules {",
        "",
        "struct Node {",
        "    double abscissa;",
        "    double weight;",
        "};",
        "",
        "struct Rule {",
        "    int size;            // n",
        "    const Node* nodes;   // (n + 1)/2 entries",
        "};",
        "",
    ]
    for n in SIZES:
        body = ",\n".join(f"    {{{float(x)!r}, {float(w)!r}}}"
                          for x, w in rule(n))
        lines += [f"inline constexpr Node kNodes{n}[] = {{", body, "};"]
    lines += ["", "// The sizes available, ascending.", f"inline constexpr std::array<Rule, {len(SIZES)}> kRules = {{{{"]
    lines += [f"    Rule{{{n}, kNodes{n}}}," for n in SIZES]
    lines += ["}};", "", "}  // namespace velmora::gauss_rules", ""]
    OUT.write_text("\n".join(lines))


if __name__ == "__main__":
    main()
