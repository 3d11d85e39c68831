"""Point-lens microlensing magnification of extended sources: uniform disks, thin rings,
limb-darkened disks and radial flux maps.

Units used by every function:

- ``l``: distance of the lens from the centre of the source, in source radii;
- ``r``, ``bl``: radii on the source, in source radii (0 at the centre, 1 at the limb);
- ``re``, ``rstar``: Einstein radius and source radius in one common unit; only their ratio
  rho = rstar/re enters. The lens is u = l*rho Einstein radii from the source centre.

Sequence arguments accept any sequence of numbers (list, tuple, range, a 1-D NumPy array); the
results are a new ``list[float]`` with one value per element of ``l`` (``numpy.asarray`` turns it
into an array). A ``*_gradient`` function returns a tuple of three such lists: the magnification
A, dA/du at fixed rho and dA/drho at fixed u.
"""

from typing import Protocol, SupportsFloat, SupportsIndex, type_check_only

__all__ = [
    "witt_mao_magnification",
    "integrated_witt_mao_magnification",
    "integrated_flux_map_witt_mao_magnification",
    "heyrovsky_magnification",
    "integrated_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
    "integrated_law_heyrovsky_magnification",
    "witt_mao_magnification_gradient",
    "integrated_law_heyrovsky_magnification_gradient",
    "integrated_flux_map_heyrovsky_magnification_gradient",
    "witt_mao_centroid_shift",
    "integrated_law_heyrovsky_centroid_shift",
    "integrated_flux_map_heyrovsky_centroid_shift",
]

__version__: str

@type_check_only
class _FloatSequence(Protocol):
    """What the sequence arguments accept: an object with a length whose items convert with
    float(). list[float], tuple[float, ...], range and 1-D NumPy arrays (float or int) all qualify;
    a single number, a str, a set or a generator does not (the call raises TypeError).
    """

    def __len__(self) -> int: ...
    def __getitem__(self, index: SupportsIndex, /) -> SupportsFloat: ...

class PanicException(BaseException):
    """Raised when the native code aborts: an internal assertion fails (for instance flux-map
    columns ``bl`` and ``bf`` of unequal length) or memory runs out.

    Like SystemExit it derives from BaseException, so ``except Exception`` does not catch it.
    """

def witt_mao_magnification(l: _FloatSequence, re: float, rstar: float) -> list[float]:
    """Magnification of a uniformly bright disk source (Witt & Mao 1994).

    The average of the point-lens magnification A(u) = (u^2 + 2)/(u*sqrt(u^2 + 4)) over the
    source disk, in closed form with the complete elliptic integrals K, E and Pi.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.

    Returns:
        One magnification per element of ``l``.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        RuntimeError: an elliptic integral is outside its domain (e.g. "ellippi: n must be less
            than 1." for a lens within rounding of the limb of a source with a very large
            rstar/re).
    """

def integrated_witt_mao_magnification(l: _FloatSequence, re: float, rstar: float) -> list[float]:
    """Magnification of a limb-darkened disk source, computed from uniform disks (disk route).

    The source has the linear limb-darkening law I(r) = 1 - 0.6*(1 - sqrt(1 - r^2)). The
    profile-weighted magnification (1/N) * integral_0^1 I(r) d[pi r^2 W(r)] is integrated by parts
    over the uniform-disk magnifications W(r) of the concentric disks of radius r. Same quantity
    as ``integrated_heyrovsky_magnification``.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.

    Returns:
        One magnification per element of ``l``.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        RuntimeError: the full-disk uniform magnification fails (see ``witt_mao_magnification``).
    """

def integrated_flux_map_witt_mao_magnification(
    l: _FloatSequence, re: float, rstar: float, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """Magnification of a disk source with a tabulated radial brightness, disk route.

    The brightness J(r) is linear between the knots (bl[k], bf[k]) and 0 outside them (a single
    knot is a uniform source); the result is (1/N) * integral_0^1 J(r) d[pi r^2 W(r)] with
    N = integral_0^1 2 pi r J(r) dr, like ``integrated_witt_mao_magnification``.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        bl: radii of the knots, in source radii, ascending.
        bf: brightness at each knot (any scale: the result is normalised), as many as ``bl``.

    Returns:
        One magnification per element of ``l``; infinite or NaN if the map has no brightness
        inside the source (N = 0).

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        RuntimeError: the full-disk uniform magnification fails (see ``witt_mao_magnification``).
        PanicException: ``bl`` and ``bf`` differ in length.
    """

def heyrovsky_magnification(l: float, r: float, re: float, rstar: float) -> float:
    """Magnification of a thin ring of the source (Heyrovsky 2003).

    The average of the point-lens magnification around a ring of radius ``r`` centred on the
    source centre, with complete elliptic integrals K and Pi (and a logarithmic expansion when
    the lens is within min(1e-5, 1e-4*l) of the ring). Infinite with the lens exactly on the ring.

    Args:
        l: distance of the lens from the source centre, in source radii (>= 0). One number.
        r: radius of the ring, in source radii.
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.

    Returns:
        The ring magnification.

    Raises:
        TypeError: an argument is not a number.
        RuntimeError: an elliptic integral is outside its domain.
    """

def integrated_heyrovsky_magnification(l: _FloatSequence, re: float, rstar: float) -> list[float]:
    """Magnification of a limb-darkened disk source, computed from rings (ring route).

    The source has the linear limb-darkening law I(r) = 1 - 0.6*(1 - sqrt(1 - r^2)); the result is
    (1/N) * integral_0^1 2 pi r A_ring(l, r) I(r) dr with N = 0.8 pi, split at r = l. Same quantity
    as ``integrated_witt_mao_magnification``, and the more accurate of the two near the limb.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.

    Returns:
        One magnification per element of ``l``.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
    """

def integrated_flux_map_heyrovsky_magnification(
    l: _FloatSequence, re: float, rstar: float, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """Magnification of a disk source with a tabulated radial brightness, ring route.

    The brightness J(r) is linear between the knots (bl[k], bf[k]) and 0 outside them (a single
    knot is a uniform source); the result is (1/N) * integral_0^1 2 pi r A_ring(l, r) J(r) dr with
    N = integral_0^1 2 pi r J(r) dr, split at r = l and at the knots.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        bl: radii of the knots, in source radii, ascending.
        bf: brightness at each knot (any scale: the result is normalised), as many as ``bl``.

    Returns:
        One magnification per element of ``l``; infinite or NaN if the map has no brightness
        inside the source (N = 0).

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        PanicException: ``bl`` and ``bf`` differ in length.
    """

def discrete_flux_map_heyrovsky_magnification(
    l: _FloatSequence, re: float, rstar: float, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """Weighted sum of ring magnifications: sum over k of A_ring(l, bl[k]) * bf[k].

    No normalisation and no area factor: with weights bf[k] that sum to 1 it is the average of
    the rings; with bf[k] = w_k * 2 pi r_k J(r_k) / N for quadrature weights w_k it approximates
    the integrated magnification of the profile J.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        bl: ring radii, in source radii.
        bf: weight of each ring, as many as ``bl``.

    Returns:
        One sum per element of ``l``; infinite if the lens lies exactly on one of the rings.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        RuntimeError: a ring magnification fails (see ``heyrovsky_magnification``).
        PanicException: ``bl`` and ``bf`` differ in length.
    """

def integrated_law_heyrovsky_magnification(
    l: _FloatSequence, re: float, rstar: float, powers: _FloatSequence, weights: _FloatSequence
) -> list[float]:
    """Magnification of a disk source with a limb-darkening law given as a sum of powers of mu.

    The brightness is I(r) = sum over k of weights[k] * mu**powers[k], mu = sqrt(1 - r^2), inside
    the source (0 outside); the result is (1/N) * integral_0^1 2 pi r A_ring(l, r) I(r) dr with the
    exact normaliser N = sum over k of weights[k] * 2 pi/(powers[k] + 2) (ring route). The common
    laws in this form (powers; weights):

    - linear c: (0, 1); (1 - c, c)
    - quadratic (a, b): (0, 1, 2); (1 - a - b, a + 2b, -b)
    - square-root (c, d): (0, 1, 0.5); (1 - c - d, c, d)
    - power-2 (c, alpha): (0, alpha); (1 - c, c)
    - four-coefficient a1..a4: (0, 0.5, 1, 1.5, 2); (1 - a1 - a2 - a3 - a4, a1, a2, a3, a4)

    With powers (0, 1) and weights (0.4, 0.6) it is ``integrated_heyrovsky_magnification``. A
    profile that is negative somewhere but has N > 0 is computed as given: its magnification may
    then fall below 1. For powers that are integers from 0 to 8 and a source smaller than about
    0.17 Einstein radii the same integral is summed in closed form (a series in rho^2 of
    polynomials and complete elliptic integrals) with the lens inside the source, and for powers up
    to 3 out to l = 3.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        powers: the powers of mu, each >= 0 and finite (any real value, integer or not).
        weights: the weight of each power, each finite, as many as ``powers`` (any scale: the
            result is normalised).

    Returns:
        One magnification per element of ``l``.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        ValueError: ``powers`` and ``weights`` differ in length, ``powers`` is empty, a power is
            negative, NaN or infinite, a weight is not finite, or N is not positive (the message
            names the argument); nothing is computed then.
    """

def witt_mao_magnification_gradient(
    l: _FloatSequence, re: float, rstar: float
) -> tuple[list[float], list[float], list[float]]:
    """Magnification of a uniform disk source and its two partial derivatives.

    With u = l*rho the lens-source distance and rho = rstar/re the source radius, both in
    Einstein radii: the magnification W (bit for bit what ``witt_mao_magnification`` returns),
    dW/du at fixed rho and dW/drho at fixed u, which equals (2/rho)*(A_ring - W), A_ring the
    magnification of the source's rim (``heyrovsky_magnification`` at r = 1). Both come from
    closed forms in complete elliptic integrals; from l = 4 on, from the far-field series
    differentiated term by term. Both derivatives diverge like log|l - 1| at the limb; with the
    lens exactly on the limb they are -inf and +inf.

    For a light curve u(t) = sqrt(u0^2 + ((t - t0)/tE)^2) the chain rule gives
    dA/dt0 = -dA/du * (t - t0)/(tE^2 * u), dA/du0 = dA/du * u0/u,
    dA/dtE = -dA/du * ((t - t0)/tE)^2/(tE * u), and dA/drho directly.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.

    Returns:
        A tuple (A, dA_du, dA_drho) of three lists, each with one value per element of ``l``.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        RuntimeError: as ``witt_mao_magnification`` (a lens on the limb of a source with
            rstar/re < 0).
    """

def integrated_law_heyrovsky_magnification_gradient(
    l: _FloatSequence, re: float, rstar: float, powers: _FloatSequence, weights: _FloatSequence
) -> tuple[list[float], list[float], list[float]]:
    """Magnification of a disk source with a power-of-mu limb-darkening law, and its derivatives.

    The law and its arguments are those of ``integrated_law_heyrovsky_magnification``, whose
    values the first list holds bit for bit. With u = l*rho and rho = rstar/re, the derivatives
    dA/du at fixed rho and dA/drho at fixed u come from the law's integral integrated by parts
    over the radius: the profile's derivative times the uniform-disk derivatives of the concentric
    disks (``witt_mao_magnification_gradient``), plus the uniform part (the power-0 weights) times
    the full disk's; where the magnification is summed in closed form (small sources, integer
    powers), from that closed form's derivatives. From l = 3 on (farther for laws with large weights) the law's
    far-field series is differentiated term by term. A law dark at the limb (every weight of power
    0 zero) has finite derivatives with the lens on the limb; otherwise they are infinite there,
    like the uniform disk's. A power below 0.05 leaves the derivatives less accurate (5e-10
    relative at 0.03). The chain rule to (t0, u0, tE, rho) is that of
    ``witt_mao_magnification_gradient``.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        powers: the powers of mu, each >= 0 and finite.
        weights: the weight of each power, each finite, as many as ``powers`` (any scale: the
            result is normalised).

    Returns:
        A tuple (A, dA_du, dA_drho) of three lists, each with one value per element of ``l``.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        ValueError: as ``integrated_law_heyrovsky_magnification``; nothing is computed then.
    """

def integrated_flux_map_heyrovsky_magnification_gradient(
    l: _FloatSequence, re: float, rstar: float, bl: _FloatSequence, bf: _FloatSequence
) -> tuple[list[float], list[float], list[float]]:
    """Magnification of a disk source with a brightness table, and its derivatives.

    The table and its arguments are those of ``integrated_flux_map_heyrovsky_magnification``,
    whose values the first list holds bit for bit. With u = l*rho and rho = rstar/re, dA/du at
    fixed rho and dA/drho at fixed u come from the map's integral integrated by parts over the
    radius: on each piece between knots the profile's constant slope times the uniform-disk
    derivatives of the concentric disks (``witt_mao_magnification_gradient``), plus the terms of
    the profile's jumps (the table's ends inside the source) and of the limb. For a table with no
    negative value (as for the value function's series) the map's far-field series is
    differentiated term by term from l = 4 on when its weights (k + 1)*mu_k/mu_0 are at most 1 (a
    profile falling toward the limb), otherwise from l = 8. With the lens exactly on the limb of a map bright there, or
    exactly on a jump of the table (an end of ``bl`` inside the source with brightness there),
    the derivatives are infinite, like the uniform disk's on its limb.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        bl: the table's radii, in source radii, ascending.
        bf: the brightness at each radius of ``bl``, as many as ``bl``.

    Returns:
        A tuple (A, dA_du, dA_drho) of three lists, each with one value per element of ``l``.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        PanicException: ``bl`` and ``bf`` differ in length.
    """

def witt_mao_centroid_shift(l: _FloatSequence, re: float, rstar: float) -> list[float]:
    """Astrometric centroid shift of a uniformly bright disk source lensed by a point mass.

    The centroid of the light of all images of the source (the lens dark) minus the position of
    the source centre, along the axis from the lens to the source centre, in Einstein radii:
    positive away from the lens. Add u = l*rstar/re to get the centroid measured from the lens.
    A source point at distance s from the lens has images whose magnification-weighted centroid is
    (s^2 + 3)/sqrt(s^2 + 4) from the lens; the shift is the disk integral of that over the disk
    integral of the magnification (``witt_mao_magnification`` times the disk's area), minus u. For
    a point source it is u/(u^2 + 2); it is 0 with the lens at the centre and on the limb, where it
    changes sign (inside the source the centroid moves toward the lens). In closed form with
    complete elliptic integrals, a far-field series from l = 3.

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.

    Returns:
        One shift per element of ``l``, in Einstein radii.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        RuntimeError: as ``witt_mao_magnification``: "ellippi: m must be less than 1." for a lens
            on the limb of a source of negative rstar/re (outside the physical domain).
    """

def integrated_law_heyrovsky_centroid_shift(
    l: _FloatSequence, re: float, rstar: float, powers: _FloatSequence, weights: _FloatSequence
) -> list[float]:
    """Astrometric centroid shift of a disk source with a limb-darkening law given as a sum of powers of mu.

    The shift as in ``witt_mao_centroid_shift`` (Einstein radii, along the lens-to-source axis,
    positive away from the lens) for the brightness profile of
    ``integrated_law_heyrovsky_magnification``: the radius integral of the ring's shift numerator
    over that of the ring magnification, by the same rules, or, where the magnification is summed
    in closed form (small sources, integer powers), from the same closed forms; a series in the
    profile's moments from l = 3 (as the magnification's).

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        powers: the powers of mu, each >= 0 and finite (any real value, integer or not).
        weights: the weight of each power, each finite, as many as ``powers`` (any scale).

    Returns:
        One shift per element of ``l``, in Einstein radii.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        ValueError: as ``integrated_law_heyrovsky_magnification`` for bad ``powers`` or ``weights``.
    """

def integrated_flux_map_heyrovsky_centroid_shift(
    l: _FloatSequence, re: float, rstar: float, bl: _FloatSequence, bf: _FloatSequence
) -> list[float]:
    """Astrometric centroid shift of a disk source with a tabulated radial brightness, ring route.

    The shift as in ``witt_mao_centroid_shift`` (Einstein radii, along the lens-to-source axis,
    positive away from the lens) for the brightness of ``integrated_flux_map_heyrovsky_magnification``
    (linear between the knots, 0 outside them): the radius integral of the ring's shift numerator
    over that of the ring magnification, split at r = l and at the knots; a series in the map's
    moments from l = 4 (as the magnification's).

    Args:
        l: lens positions: distances of the lens from the source centre, in source radii (>= 0).
        re: Einstein radius (any unit, the same as ``rstar``).
        rstar: source radius, in the unit of ``re``.
        bl: radii of the knots, in source radii, ascending.
        bf: brightness at each knot (any scale), as many as ``bl``.

    Returns:
        One shift per element of ``l``, in Einstein radii; NaN if the map has no brightness inside
        the source.

    Raises:
        TypeError: an argument is not a number / a sequence of numbers.
        PanicException: ``bl`` and ``bf`` differ in length.
    """
