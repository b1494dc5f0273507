#include "decoders/datamatrix/reed_solomon.h"

#include <array>
#include <vector>

namespace kovran::decoders::datamatrix {

namespace {

constexpr int kFieldPolynomial = 0x12D;

struct Field {
    std::array<std::uint8_t, 512> exp{};
    std::array<int, 256> log{};

    Field() {
        int x = 1;
        for (int i = 0; i < 255; ++i) {
            exp[i] = static_cast<std::uint8_t>(x);
            log[x] = i;
            x <<= 1;
            if (x & 0x100) x ^= kFieldPolynomial;
        }
        // Doubled so that products index without a modulo.
        for (int i = 255; i < 512; ++i) exp[i] = exp[i - 255];
    }

    std::uint8_t Mul(std::uint8_t a, std::uint8_t b) const {
        if (a == 0 || b == 0) return 0;
        return exp[log[a] + log[b]];
    }
    std::uint8_t Div(std::uint8_t a, std::uint8_t b) const {
        if (a == 0) return 0;
        return exp[log[a] + 255 - log[b]];
    }
    std::uint8_t Pow(int power) const { return exp[((power % 255) + 255) % 255]; }
};

const Field& Gf() {
    static const Field field;
    return field;
}

// The polynomial (lowest degree first) evaluated at x.
std::uint8_t Evaluate(const std::vector<std::uint8_t>& poly, std::uint8_t x) {
    const Field& gf = Gf();
    std::uint8_t value = 0;
    for (auto it = poly.rbegin(); it != poly.rend(); ++it) value = gf.Mul(value, x) ^ *it;
    return value;
}

// Syndromes S_j = r(alpha^(j+1)); the block's first codeword is the
// coefficient of the highest power.
std::vector<std::uint8_t> Syndromes(std::span<const std::uint8_t> block, int eccCount) {
    const Field& gf = Gf();
    std::vector<std::uint8_t> syndromes(eccCount);
    for (int j = 0; j < eccCount; ++j) {
        const std::uint8_t x = gf.Pow(j + 1);
        std::uint8_t value = 0;
        for (std::uint8_t c : block) value = gf.Mul(value, x) ^ c;
        syndromes[j] = value;
    }
    return syndromes;
}

}  // namespace

bool CorrectBlock(std::span<std::uint8_t> block, int eccCount) {
    const int n = static_cast<int>(block.size());
    if (eccCount <= 0 || n > 255 || eccCount >= n) return false;
    const Field& gf = Gf();
    const std::vector<std::uint8_t> s = Syndromes(block, eccCount);
    bool clean = true;
    for (std::uint8_t v : s) clean = clean && v == 0;
    if (clean) return true;

    // Berlekamp-Massey: the error locator lambda (lowest degree first).
    std::vector<std::uint8_t> lambda{1};
    std::vector<std::uint8_t> previous{1};
    int errors = 0;
    int shift = 1;
    std::uint8_t previousDiscrepancy = 1;
    for (int k = 0; k < eccCount; ++k) {
        std::uint8_t d = s[k];
        for (int i = 1; i <= errors && i < static_cast<int>(lambda.size()); ++i)
            d ^= gf.Mul(lambda[i], s[k - i]);
        if (d == 0) {
            ++shift;
            continue;
        }
        const std::uint8_t factor = gf.Div(d, previousDiscrepancy);
        std::vector<std::uint8_t> next = lambda;
        if (next.size() < previous.size() + shift) next.resize(previous.size() + shift, 0);
        for (std::size_t i = 0; i < previous.size(); ++i)
            next[i + shift] ^= gf.Mul(factor, previous[i]);
        if (2 * errors <= k) {
            previous = lambda;
            errors = k + 1 - errors;
            previousDiscrepancy = d;
            shift = 1;
        } else {
            ++shift;
        }
        lambda = std::move(next);
    }
    while (lambda.size() > 1 && lambda.back() == 0) lambda.pop_back();
    const int degree = static_cast<int>(lambda.size()) - 1;
    if (degree != errors || 2 * errors > eccCount) return false;

    // Chien search over the block's positions: X = alpha^p for the
    // coefficient of x^p, a root of lambda at X^-1.
    std::vector<int> positions;
    for (int p = 0; p < n; ++p)
        if (Evaluate(lambda, gf.Pow(-p)) == 0) positions.push_back(p);
    if (static_cast<int>(positions.size()) != degree) return false;

    // Forney: omega = S(x) lambda(x) mod x^eccCount; with first root
    // alpha^1 the error value is omega(X^-1) / lambda'(X^-1).
    std::vector<std::uint8_t> omega(eccCount, 0);
    for (int i = 0; i < eccCount; ++i)
        for (int j = 0; j <= degree && i + j < eccCount; ++j)
            omega[i + j] ^= gf.Mul(s[i], lambda[j]);
    std::vector<std::uint8_t> derivative(std::max(degree, 1), 0);
    for (int i = 1; i <= degree; i += 2) derivative[i - 1] = lambda[i];

    std::vector<std::uint8_t> corrected(block.begin(), block.end());
    for (int p : positions) {
        const std::uint8_t xInverse = gf.Pow(-p);
        const std::uint8_t denominator = Evaluate(derivative, xInverse);
        if (denominator == 0) return false;
        corrected[n - 1 - p] ^= gf.Div(Evaluate(omega, xInverse), denominator);
    }
    for (std::uint8_t v : Syndromes(corrected, eccCount))
        if (v != 0) return false;
    std::copy(corrected.begin(), corrected.end(), block.begin());
    return true;
}

}  // namespace kovran::decoders::datamatrix
