#include "sim/fault_plan.h"
#include "platform/sys_error.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <type_traits>

namespace kovran::sim {

namespace {

constexpr int kMaxCount = 1000000;
constexpr std::uint64_t kMaxPosition = 1ull << 40;
constexpr unsigned kMaxDelayMs = 600000;
// Replies are at most a string descriptor long.
constexpr long long kMaxCommandBytesInFault = 254;

bool Take(int& count) {
    if (count == 0) return false;
    if (count > 0) --count;
    return true;
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

// Decimal or 0x-hex, optionally negative, within [lo, hi].
bool Number(std::string_view word, long long lo, long long hi, long long* out) {
    bool negative = !word.empty() && word.front() == '-';
    if (negative) word.remove_prefix(1);
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    }
    if (word.empty()) return false;
    unsigned long long value = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (ec != std::errc() || end != word.data() + word.size()) return false;
    if (value > static_cast<unsigned long long>(1ll << 62)) return false;
    long long v = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// Reads an optional "cmd <class> [<sub>]" tail starting at words[i].
bool CommandTail(const std::vector<std::string_view>& w, std::size_t i, CommandMatch* match,
                 std::string* error) {
    if (i == w.size()) return true;
    if (w[i] != "cmd" || i + 1 >= w.size() || i + 3 < w.size()) {
        return Fail(error, "expected \"cmd <class> [<sub-code>]\"");
    }
    long long cls = 0;
    if (!Number(w[i + 1], 0xD0, 0xD2, &cls))
        return Fail(error, "command class is not 0xD0 to 0xD2");
    match->cls = static_cast<std::uint8_t>(cls);
    if (i + 2 < w.size()) {
        long long sub = 0;
        if (!Number(w[i + 2], 0, 0xFF, &sub)) return Fail(error, "sub-code is not a byte");
        match->sub = static_cast<std::uint8_t>(sub);
    }
    return true;
}

}  // namespace

bool CommandMatch::Matches(std::optional<std::uint8_t> c, std::optional<std::uint8_t> s) const {
    if (cls && (!c || *cls != *c)) return false;
    if (sub && (!s || *sub != *s)) return false;
    return true;
}

std::optional<Fault> ParseFault(std::string_view text, std::string* error) {
    std::vector<std::string_view> w = Words(text);
    if (w.empty()) {
        Fail(error, "empty fault");
        return std::nullopt;
    }
    std::string_view kind = w[0];
    long long a = 0;
    long long b = 0;
    auto count = [&](std::size_t i, long long* out) {
        if (i < w.size() && w[i] == "forever") {
            *out = kForever;
            return true;
        }
        return i < w.size() && Number(w[i], 0, kMaxCount, out);
    };
    if (kind == "not_ready" || kind == "access_denied") {
        if (!count(1, &a)) {
            Fail(error, std::string(kind) + ": expected a count");
            return std::nullopt;
        }
        std::size_t i = 2;
        FaultSite site = kind == "not_ready" ? FaultSite::Control : FaultSite::Open;
        if (i < w.size() && (w[i] == "open" || w[i] == "control")) {
            site = w[i] == "open" ? FaultSite::Open : FaultSite::Control;
            ++i;
        }
        CommandMatch only;
        if (!CommandTail(w, i, &only, error)) return std::nullopt;
        if (site == FaultSite::Open && (only.cls || only.sub)) {
            Fail(error, "an open refusal cannot name a command");
            return std::nullopt;
        }
        if (kind == "not_ready") return NotReady{static_cast<int>(a), site, only};
        return AccessDenied{static_cast<int>(a), site, only};
    }
    if (kind == "unplug") {
        if (w.size() < 3 || (w[1] != "call" && w[1] != "byte" && w[1] != "open") ||
            !Number(w[2], 1, static_cast<long long>(kMaxPosition), &a) ||
            (w.size() > 3 && w[1] != "call")) {
            Fail(error,
                 "unplug: expected \"call <n>\", \"byte <n>\" or \"open <n>\" with n from 1");
            return std::nullopt;
        }
        Unplug u;
        if (!CommandTail(w, 3, &u.only, error)) return std::nullopt;
        std::uint64_t& at = w[1] == "call" ? u.atCall : w[1] == "byte" ? u.atByte : u.atOpen;
        at = static_cast<std::uint64_t>(a);
        return u;
    }
    if (kind == "replug") {
        if (w.size() != 2 || !Number(w[1], 0, kMaxCount, &a)) {
            Fail(error, "replug: expected a count");
            return std::nullopt;
        }
        return Replug{static_cast<std::uint64_t>(a)};
    }
    if (kind == "zero_status") {
        if (w.size() != 2 || !count(1, &a)) {
            Fail(error, "zero_status: expected a count");
            return std::nullopt;
        }
        return ZeroStatus{static_cast<int>(a)};
    }
    if (kind == "wrong_length") {
        if (w.size() < 3 || !count(1, &a) || !Number(w[2], -64, 64, &b) || b == 0) {
            Fail(error, "wrong_length: expected a count and a delta of -64 to 64, not 0");
            return std::nullopt;
        }
        CommandMatch only;
        if (!CommandTail(w, 3, &only, error)) return std::nullopt;
        return WrongLength{static_cast<int>(a), static_cast<int>(b), only};
    }
    if (kind == "slow_reply") {
        if (w.size() < 2 || !Number(w[1], 0, kMaxDelayMs, &a)) {
            Fail(error, "slow_reply: expected milliseconds up to 600000");
            return std::nullopt;
        }
        long long n = kForever;
        std::size_t i = 2;
        if (i < w.size() && w[i] != "cmd") {
            if (!count(i, &n)) {
                Fail(error, "slow_reply: bad count");
                return std::nullopt;
            }
            ++i;
        }
        CommandMatch only;
        if (!CommandTail(w, i, &only, error)) return std::nullopt;
        return SlowReply{static_cast<unsigned>(a), static_cast<int>(n), only};
    }
    if (kind == "corrupt_reply") {
        long long mask = 0;
        if (w.size() < 4 || !count(1, &a) || !Number(w[2], 0, kMaxCommandBytesInFault, &b) ||
            !Number(w[3], 1, 0xFF, &mask)) {
            Fail(error,
                 "corrupt_reply: expected a count, an offset up to 254 and a mask of 1 to 0xFF");
            return std::nullopt;
        }
        CommandMatch only;
        if (!CommandTail(w, 4, &only, error)) return std::nullopt;
        return CorruptReply{static_cast<int>(a), static_cast<std::size_t>(b),
                            static_cast<std::uint8_t>(mask), only};
    }
    if (kind == "bulk_limit") {
        if (w.size() != 2 || !Number(w[1], 1, static_cast<long long>(kMaxPosition), &a)) {
            Fail(error, "bulk_limit: expected a byte count from 1");
            return std::nullopt;
        }
        return BulkTooLarge{static_cast<std::size_t>(a)};
    }
    if (kind == "bulk_error") {
        BulkError e;
        if (w.size() < 2 || !Number(w[1], 1, 0xFFFF, &a)) {
            Fail(error, "bulk_error: expected a Windows error code");
            return std::nullopt;
        }
        e.error = static_cast<int>(a);
        std::size_t i = 2;
        if (i < w.size() && w[i] != "at") {
            if (!count(i, &b)) {
                Fail(error, "bulk_error: bad count");
                return std::nullopt;
            }
            e.count = static_cast<int>(b);
            ++i;
        }
        if (i < w.size()) {
            if (w[i] != "at" || i + 2 != w.size() ||
                !Number(w[i + 1], 0, static_cast<long long>(kMaxPosition), &b)) {
                Fail(error, "bulk_error: expected \"at <byte>\" at the end");
                return std::nullopt;
            }
            e.atByte = static_cast<std::uint64_t>(b);
        }
        return e;
    }
    if (kind == "bulk_stall") {
        if (w.size() != 2 || !Number(w[1], 0, static_cast<long long>(kMaxPosition), &a)) {
            Fail(error, "bulk_stall: expected a byte position");
            return std::nullopt;
        }
        return BulkStall{static_cast<std::uint64_t>(a), 1};
    }
    if (kind == "early_completion") {
        long long n = 1;
        if (w.size() > 2 || (w.size() == 2 && !count(1, &n))) {
            Fail(error, "early_completion: expected an optional count");
            return std::nullopt;
        }
        return EarlyCompletion{static_cast<int>(n)};
    }
    if (kind == "short_document") {
        long long n = 1;
        if (w.size() < 2 || w.size() > 3 || !Number(w[1], 0, 0xFFFFFF, &a) ||
            (w.size() == 3 && !count(2, &n))) {
            Fail(error, "short_document: expected scan lines and an optional count");
            return std::nullopt;
        }
        return ShortDocument{static_cast<std::uint32_t>(a), static_cast<int>(n)};
    }
    if (kind == "aligner_glitch") {
        long long channel = 0;
        if (w.size() < 3 || w.size() > 4 || !Number(w[1], 0, 0xFFFFFF, &a) ||
            !Number(w[2].front() == '+' ? w[2].substr(1) : w[2], -1, 1, &b) || b == 0 ||
            (w.size() == 4 && !Number(w[3], 0, 5, &channel))) {
            Fail(error, "aligner_glitch: expected a scan line, +1 or -1 and an optional channel");
            return std::nullopt;
        }
        return AlignerGlitch{static_cast<std::uint32_t>(a), static_cast<int>(b),
                             static_cast<int>(channel), 1};
    }
    if (kind == "noise_dropout") {
        long long len = 0;
        long long lines = 1;
        if (w.size() < 4 || w.size() > 5 || !Number(w[1], 0, 0xFFFFFF, &a) ||
            !Number(w[2], 0, 0xFFFF, &b) || !Number(w[3], 1, 0xFFFF, &len) ||
            (w.size() == 5 && !Number(w[4], 1, 0xFFFFFF, &lines))) {
            Fail(error, "noise_dropout: expected a scan line, a pixel, a length and lines");
            return std::nullopt;
        }
        return NoiseDropout{static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b),
                            static_cast<std::uint32_t>(len), static_cast<std::uint32_t>(lines), 1};
    }
    if (kind == "rate_limit") {
        if (w.size() != 2 || !Number(w[1], 1, static_cast<long long>(kMaxPosition), &a)) {
            Fail(error, "rate_limit: expected bytes per second from 1");
            return std::nullopt;
        }
        return RateLimit{static_cast<std::uint64_t>(a)};
    }
    Fail(error, "unknown fault \"" + std::string(kind) + "\"");
    return std::nullopt;
}

void FaultPlan::Arm(const Fault& fault) {
    faults_.push_back(fault);
}

void FaultPlan::Clear() {
    faults_.clear();
}

void FaultPlan::DropSpent() {
    std::erase_if(faults_, [](const Fault& f) {
        return std::visit(
            [](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, Unplug> || std::is_same_v<T, Replug> ||
                              std::is_same_v<T, BulkTooLarge> || std::is_same_v<T, RateLimit>) {
                    return false;
                } else {
                    return x.count == 0;
                }
            },
            f);
    });
}

ControlFaults FaultPlan::OnControl(std::optional<std::uint8_t> cls, std::optional<std::uint8_t> sub,
                                   bool isStatusRead, bool isRead) {
    ControlFaults out;
    // An unplug is decided first: a device that is gone refuses nothing else.
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (auto* u = std::get_if<Unplug>(&*it); u && u->atCall > 0 && u->only.Matches(cls, sub)) {
            if (--u->atCall == 0) {
                faults_.erase(it);
                out.unplug = true;
                return out;
            }
        }
    }
    // The first refusal that applies wins and is the only one consumed.
    for (Fault& f : faults_) {
        if (auto* n = std::get_if<NotReady>(&f);
            n && n->site == FaultSite::Control && n->only.Matches(cls, sub) && Take(n->count)) {
            out.error = platform::kErrorNotReady;
            break;
        }
        if (auto* d = std::get_if<AccessDenied>(&f);
            d && d->site == FaultSite::Control && d->only.Matches(cls, sub) && Take(d->count)) {
            out.error = platform::kErrorAccessDenied;
            break;
        }
    }
    if (out.error == platform::kErrorSuccess) {
        for (Fault& f : faults_) {
            if (auto* s = std::get_if<SlowReply>(&f);
                s && out.delayMs == 0 && s->only.Matches(cls, sub) && Take(s->count)) {
                out.delayMs = s->ms;
            } else if (auto* z = std::get_if<ZeroStatus>(&f);
                       z && isStatusRead && !out.zeroStatus && Take(z->count)) {
                out.zeroStatus = true;
            } else if (auto* l = std::get_if<WrongLength>(&f);
                       l && isRead && out.lengthDelta == 0 && l->only.Matches(cls, sub) &&
                       Take(l->count)) {
                out.lengthDelta = l->delta;
            } else if (auto* c = std::get_if<CorruptReply>(&f); c && isRead && !out.corruptOffset &&
                                                                c->only.Matches(cls, sub) &&
                                                                Take(c->count)) {
                out.corruptOffset = c->offset;
                out.corruptMask = c->mask;
            }
        }
    }
    DropSpent();
    return out;
}

int FaultPlan::OnOpen(bool* unplug) {
    *unplug = false;
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (auto* u = std::get_if<Unplug>(&*it); u && u->atOpen > 0 && --u->atOpen == 0) {
            faults_.erase(it);
            *unplug = true;
            return platform::kErrorFileNotFound;
        }
    }
    int error = platform::kErrorSuccess;
    for (Fault& f : faults_) {
        if (auto* n = std::get_if<NotReady>(&f);
            n && n->site == FaultSite::Open && Take(n->count)) {
            error = platform::kErrorNotReady;
            break;
        }
        if (auto* d = std::get_if<AccessDenied>(&f);
            d && d->site == FaultSite::Open && Take(d->count)) {
            error = platform::kErrorAccessDenied;
            break;
        }
    }
    DropSpent();
    return error;
}

bool FaultPlan::OnBulkBytes(std::uint64_t bytes) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (auto* u = std::get_if<Unplug>(&*it); u && u->atByte > 0) {
            if (bytes >= u->atByte) {
                faults_.erase(it);
                return true;
            }
            u->atByte -= bytes;
        }
    }
    return false;
}

int FaultPlan::OnBulkSubmit(std::size_t length) const {
    for (const Fault& f : faults_) {
        if (auto* b = std::get_if<BulkTooLarge>(&f); b && length > b->maxBytes)
            return platform::kErrorNoSystemResources;
    }
    return platform::kErrorSuccess;
}

std::optional<std::uint64_t> FaultPlan::StreamBytesBeforeEvent() const {
    std::optional<std::uint64_t> first;
    auto consider = [&](std::uint64_t at) {
        if (!first || at < *first) first = at;
    };
    for (const Fault& f : faults_) {
        if (auto* u = std::get_if<Unplug>(&f); u && u->atByte > 0) consider(u->atByte);
        // A due read error waits for the next read; it does not hold the
        // stream.
        if (auto* e = std::get_if<BulkError>(&f); e && e->count != 0 && e->atByte > 0)
            consider(e->atByte);
        if (auto* s = std::get_if<BulkStall>(&f); s && s->count != 0) consider(s->atByte);
    }
    return first;
}

bool FaultPlan::OnStreamBytes(std::uint64_t bytes) {
    for (Fault& f : faults_) {
        if (auto* e = std::get_if<BulkError>(&f)) e->atByte -= std::min(e->atByte, bytes);
        if (auto* s = std::get_if<BulkStall>(&f)) s->atByte -= std::min(s->atByte, bytes);
    }
    return OnBulkBytes(bytes);
}

int FaultPlan::TakeBulkError() {
    int error = platform::kErrorSuccess;
    for (Fault& f : faults_) {
        if (auto* e = std::get_if<BulkError>(&f); e && e->atByte == 0 && Take(e->count)) {
            error = e->error;
            break;
        }
    }
    DropSpent();
    return error;
}

bool FaultPlan::Stalled() const {
    for (const Fault& f : faults_) {
        if (auto* s = std::get_if<BulkStall>(&f); s && s->count != 0 && s->atByte == 0) return true;
    }
    return false;
}

bool FaultPlan::TakeEarlyCompletion() {
    bool hit = false;
    for (Fault& f : faults_) {
        if (auto* e = std::get_if<EarlyCompletion>(&f); e && Take(e->count)) {
            hit = true;
            break;
        }
    }
    DropSpent();
    return hit;
}

DocumentFaults FaultPlan::TakeDocumentFaults() {
    DocumentFaults out;
    for (Fault& f : faults_) {
        if (auto* s = std::get_if<ShortDocument>(&f); s && !out.shortLines && Take(s->count)) {
            out.shortLines = s->lines;
        } else if (auto* g = std::get_if<AlignerGlitch>(&f); g && Take(g->count)) {
            out.glitches.push_back(*g);
        } else if (auto* n = std::get_if<NoiseDropout>(&f); n && Take(n->count)) {
            out.dropouts.push_back(*n);
        }
    }
    // A stall belongs to one acquisition: the next one flows again.
    for (Fault& f : faults_) {
        if (auto* s = std::get_if<BulkStall>(&f); s && s->atByte == 0) s->count = 0;
    }
    DropSpent();
    return out;
}

std::uint64_t FaultPlan::RateLimitBytesPerSecond() const {
    std::uint64_t limit = 0;
    for (const Fault& f : faults_) {
        if (auto* r = std::get_if<RateLimit>(&f); r && (limit == 0 || r->bytesPerSecond < limit))
            limit = r->bytesPerSecond;
    }
    return limit;
}

bool FaultPlan::OnMissing() {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (auto* r = std::get_if<Replug>(&*it)) {
            if (r->afterCalls == 0) {
                faults_.erase(it);
                return true;
            }
            --r->afterCalls;
            return false;
        }
    }
    return false;
}

}  // namespace kovran::sim
