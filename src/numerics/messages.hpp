// Every fixed message text of velmora, in one place.
//
// These texts are a compatibility contract: callers match on them, so a change here is a change of
// the interface, and they stay as they are. A kernel's message names that kernel and the argument
// that failed. The models raise one of them themselves: a lens on the limb of a disk with a negative
// rstar fails with kEllippiM. That path calls no ellippi (the uniform disk runs on cel), but its
// closed form's parameter is exactly 1 there, the case ellippi rejects, and the text, being part of
// the contract, is kept. The kernels return the texts by value (CalcResult), the models pass them on,
// the boundary raises them. The test extension exports this table, and the tests compare what each
// function raises with it.
#pragma once

namespace velmora::messages {

// The Legendre forms K(m), E(m), Π(n, m).
inline constexpr char kEllipkM[] = "ellipk: m must be less than 1.";
inline constexpr char kEllipeM[] = "ellipe: m must be less than 1.";
inline constexpr char kEllippiM[] = "ellippi: m must be less than 1.";
inline constexpr char kEllippiN[] = "ellippi: n must be less than 1.";

// Carlson's symmetric forms.
inline constexpr char kElliprcX[] = "elliprc: x must be non-negative.";
inline constexpr char kElliprcY[] = "elliprc: y must be non-zero.";
inline constexpr char kElliprfDomain[] = "elliprf: x, y, and z must be non-negative, and at most one can be zero.";
inline constexpr char kElliprfConverge[] = "elliprf: Failed to converge.";
inline constexpr char kElliprdDomain[] = "elliprd: x and y must be non-negative, and at most one can be zero.";
inline constexpr char kElliprdZ[] = "elliprd: z must be positive";
inline constexpr char kElliprdConverge[] = "elliprd: Failed to converge.";
inline constexpr char kElliprjDomain[] = "elliprj: x, y, and z must be non-negative, and at most one can be zero.";
inline constexpr char kElliprjP[] = "elliprj: p must be non-zero";
inline constexpr char kElliprjConverge[] = "elliprj: Fail to converge";

// Bulirsch's complete integral cel(kc, p, a, b).
inline constexpr char kCelKc[] = "cel: kc must be non-zero.";
inline constexpr char kCelP[] = "cel: p must be positive.";

// A power law's invalid arguments (integrated_law_heyrovsky_magnification), raised as ValueError
// before anything is computed; is_invalid_argument tells them from the kernels' texts by address.
inline constexpr char kLawLengths[] = "argument 'weights': must have as many items as 'powers'";
inline constexpr char kLawEmpty[] = "argument 'powers': must have at least one item";
inline constexpr char kLawPower[] = "argument 'powers': every item must be non-negative and finite";
inline constexpr char kLawWeight[] = "argument 'weights': every item must be finite";
inline constexpr char kLawNormaliser[] =
    "argument 'weights': the normaliser sum(2*pi*weights[k]/(powers[k] + 2)) must be positive and finite";

inline bool is_invalid_argument(const char* message) {
    return message == kLawLengths || message == kLawEmpty || message == kLawPower || message == kLawWeight ||
           message == kLawNormaliser;
}

// The models' stop sentinel, told apart from every kernel message by its address (one object:
// an inline variable has one address in the whole program).
inline constexpr char kStopped[] = "interrupted";

// The boundary's own texts.
inline constexpr char kPanic[] = "uncaught panic at ffi boundary";  // a C++ exception with no text
inline constexpr char kStrForSequence[] = "Can't extract `str` to `Vec`";
inline constexpr char kSubinterpreter[] = "velmora does not yet support subinterpreters";
inline constexpr char kAllNotList[] = "could not append __name__ to __all__";
inline constexpr char kNoError[] = "attempted to fetch exception but none was set";

// The abort of unequal table columns: kUnequalColumns, then the two lengths as
// "<text>\n  left: <n>\n right: <m>".
inline constexpr char kUnequalColumns[] = "assertion `left == right` failed";

// The table of all of them by name, for the test extension that exports it.
struct Named {
    const char* name;
    const char* text;
};
inline constexpr Named kAll[] = {
    {"ellipk_m", kEllipkM},
    {"ellipe_m", kEllipeM},
    {"ellippi_m", kEllippiM},
    {"ellippi_n", kEllippiN},
    {"elliprc_x", kElliprcX},
    {"elliprc_y", kElliprcY},
    {"elliprf_domain", kElliprfDomain},
    {"elliprf_converge", kElliprfConverge},
    {"elliprd_domain", kElliprdDomain},
    {"elliprd_z", kElliprdZ},
    {"elliprd_converge", kElliprdConverge},
    {"elliprj_domain", kElliprjDomain},
    {"elliprj_p", kElliprjP},
    {"elliprj_converge", kElliprjConverge},
    {"cel_kc", kCelKc},
    {"cel_p", kCelP},
    {"stopped", kStopped},
    {"panic", kPanic},
    {"str_for_sequence", kStrForSequence},
    {"subinterpreter", kSubinterpreter},
    {"all_not_list", kAllNotList},
    {"no_error", kNoError},
    {"unequal_columns", kUnequalColumns},
    {"law_lengths", kLawLengths},
    {"law_empty", kLawEmpty},
    {"law_power", kLawPower},
    {"law_weight", kLawWeight},
    {"law_normaliser", kLawNormaliser},
};

}  // namespace velmora::messages
