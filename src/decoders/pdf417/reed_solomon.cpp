#include "decoders/pdf417/reed_solomon.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace kovran::decoders::pdf417 {

namespace {

constexpr int kGenerator = 3;

struct Field {
    std::array<int, kFieldSize> exp{};
    std::array<int, kFieldSize> log{};
    Field() {
        int x = 1;
        for (int i = 0; i < kFieldSize - 1; ++i) {
            exp[i] = x;
            log[x] = i;
            x = x * kGenerator % kFieldSize;
        }
        exp[kFieldSize - 1] = exp[0];
    }
};

const Field& F() {
    static const Field field;
    return field;
}

int Add(int a, int b) {
    return (a + b) % kFieldSize;
}
int Sub(int a, int b) {
    return (a - b + kFieldSize) % kFieldSize;
}
int Mul(int a, int b) {
    return a * b % kFieldSize;
}
int Inv(int a) {
    return F().exp[(kFieldSize - 1 - F().log[a]) % (kFieldSize - 1)];
}
int Pow3(int e) {
    return F().exp[((e % (kFieldSize - 1)) + (kFieldSize - 1)) % (kFieldSize - 1)];
}

// Polynomials as coefficient lists, lowest degree first.
using Poly = std::vector<int>;

int Eval(const Poly& p, int x) {
    int y = 0;
    for (std::size_t i = p.size(); i-- > 0;) y = Add(Mul(y, x), p[i]);
    return y;
}

int Degree(const Poly& p) {
    for (std::size_t i = p.size(); i-- > 0;)
        if (p[i] != 0) return static_cast<int>(i);
    return -1;
}

}  // namespace

int ErrorCorrectionCodewords(int ecLevel) {
    return 2 << ecLevel;
}
int MostErasures(int ecLevel) {
    return ErrorCorrectionCodewords(ecLevel) - 2;
}

CorrectionOutcome CorrectCodewords(std::span<int> codewords, int ecCount) {
    const int n = static_cast<int>(codewords.size());
    if (ecCount < 2 || n <= ecCount || n > kMaxCodewordsPerCode) return {};

    // Position i carries the power n - 1 - i of x; its locator is 3^(n-1-i).
    std::vector<int> erasures;
    for (int i = 0; i < n; ++i) {
        if (codewords[i] < 0 || codewords[i] >= kFieldSize) {
            erasures.push_back(i);
            codewords[i] = 0;
        }
    }
    const int f = static_cast<int>(erasures.size());
    if (f > ecCount - 2) return {.result = Correction::TooManyErasures};

    std::vector<int> s(static_cast<std::size_t>(ecCount) + 1, 0);  // s[1..ecCount]
    bool clean = true;
    for (int j = 1; j <= ecCount; ++j) {
        int y = 0;
        const int x = Pow3(j);
        for (int i = 0; i < n; ++i) y = Add(Mul(y, x), codewords[i]);
        s[j] = y;
        clean = clean && y == 0;
    }
    if (clean) return {.result = Correction::Corrected};

    // The erasure locator, then Berlekamp-Massey from it: the shortest
    // locator that the syndromes' Toeplitz system admits.
    Poly lambda{1};
    for (int pos : erasures) {
        const int x = Pow3(n - 1 - pos);
        Poly next(lambda.size() + 1, 0);
        for (std::size_t k = 0; k < lambda.size(); ++k) {
            next[k] = Add(next[k], lambda[k]);
            next[k + 1] = Sub(next[k + 1], Mul(lambda[k], x));
        }
        lambda = std::move(next);
    }
    Poly b = lambda;
    int l = f;
    for (int r = f + 1; r <= ecCount; ++r) {
        int delta = 0;
        for (int j = 0; j <= l && j < static_cast<int>(lambda.size()); ++j)
            if (r - j >= 1) delta = Add(delta, Mul(lambda[j], s[r - j]));
        Poly shifted(b.size() + 1, 0);
        std::copy(b.begin(), b.end(), shifted.begin() + 1);
        if (delta == 0) {
            b = std::move(shifted);
            continue;
        }
        Poly t(std::max(lambda.size(), shifted.size()), 0);
        for (std::size_t k = 0; k < t.size(); ++k) {
            const int a = k < lambda.size() ? lambda[k] : 0;
            const int c = k < shifted.size() ? shifted[k] : 0;
            t[k] = Sub(a, Mul(delta, c));
        }
        if (2 * l <= r + f - 1) {
            const int inv = Inv(delta);
            b.assign(lambda.size(), 0);
            for (std::size_t k = 0; k < lambda.size(); ++k) b[k] = Mul(lambda[k], inv);
            l = r + f - l;
        } else {
            b = std::move(shifted);
        }
        lambda = std::move(t);
    }
    const int degree = Degree(lambda);
    const int errors = degree - f;
    if (degree != l || errors < 0 || 2 * errors + f > ecCount || errors > kMaxLocatorUnknowns)
        return {};

    std::vector<int> positions;
    for (int i = 0; i < n; ++i)
        if (Eval(lambda, Pow3(-(n - 1 - i))) == 0) positions.push_back(i);
    if (static_cast<int>(positions.size()) != degree) return {};

    // Forney: omega = S(x) lambda(x) mod x^ecCount, e = -omega(X^-1) / lambda'(X^-1).
    Poly omega(static_cast<std::size_t>(ecCount), 0);
    for (int i = 0; i < ecCount; ++i)
        for (int k = 0; k <= i && k < static_cast<int>(lambda.size()); ++k)
            omega[i] = Add(omega[i], Mul(lambda[k], s[i - k + 1]));
    Poly derivative(lambda.size() > 1 ? lambda.size() - 1 : 1, 0);
    for (std::size_t k = 1; k < lambda.size(); ++k)
        derivative[k - 1] = Mul(lambda[k], static_cast<int>(k % kFieldSize));
    for (int pos : positions) {
        const int xInv = Pow3(-(n - 1 - pos));
        const int denominator = Eval(derivative, xInv);
        if (denominator == 0) return {.result = Correction::DivisionByZero};
        const int value = Sub(0, Mul(Eval(omega, xInv), Inv(denominator)));
        codewords[pos] = Sub(codewords[pos], value);
    }

    for (int j = 1; j <= ecCount; ++j) {
        int y = 0;
        const int x = Pow3(j);
        for (int i = 0; i < n; ++i) y = Add(Mul(y, x), codewords[i]);
        if (y != 0) return {};
    }
    return {.result = Correction::Corrected, .errors = errors};
}

std::vector<int> ComputeErrorCorrection(std::span<const int> data, int ecCount) {
    // g(x) = (x - 3)(x - 3^2)...(x - 3^k), highest degree first.
    std::vector<int> g{1};
    for (int i = 1; i <= ecCount; ++i) {
        std::vector<int> next(g.size() + 1, 0);
        for (std::size_t k = 0; k < g.size(); ++k) {
            next[k] = Add(next[k], g[k]);
            next[k + 1] = Sub(next[k + 1], Mul(g[k], Pow3(i)));
        }
        g = std::move(next);
    }
    std::vector<int> rest(static_cast<std::size_t>(ecCount), 0);
    for (int d : data) {
        const int factor = Add(d % kFieldSize, rest[0]);
        for (int k = 0; k < ecCount; ++k) {
            const int carry = k + 1 < ecCount ? rest[k + 1] : 0;
            rest[k] = Sub(carry, Mul(factor, g[k + 1]));
        }
    }
    // The remainder of data(x) x^k by g, negated, so that the whole is a multiple of g.
    for (int& r : rest) r = Sub(0, r);
    return rest;
}

}  // namespace kovran::decoders::pdf417
