#include "engine/fetch_status.h"

#include <string>

namespace engine {

namespace {

// The program carries no printf: figures are put together by hand.
constexpr const char* kUnits[] = {"Б", "КБ", "МБ", "ГБ"};
constexpr int kLargestUnit = 3;
// Shorter than this the rate says little.
constexpr DWORD kShortestRateSpanMs = 100;

long long Scale(int unit) { return 1LL << (10 * unit); }

// Tenths of a unit, rounded.
long long Tenths(long long bytes, int unit) { return (bytes * 10 + Scale(unit) / 2) / Scale(unit); }

// The unit that keeps the figure of bytes below 1024 (as rounded).
int UnitOf(long long bytes) {
    if (bytes < 1024) return 0;
    int unit = 1;
    while (unit < kLargestUnit && Tenths(bytes, unit) >= 10240) ++unit;
    return unit;
}

void AppendNumber(std::string& text, long long number) {
    char digits[24];
    char* at = digits + sizeof digits;
    do {
        *--at = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number > 0);
    text.append(at, digits + sizeof digits);
}

void AppendFigure(std::string& text, long long bytes, int unit) {
    if (unit == 0) return AppendNumber(text, bytes);
    const long long tenths = Tenths(bytes, unit);
    AppendNumber(text, tenths / 10);
    text += ',';
    AppendNumber(text, tenths % 10);
}

// "512 Б", "12,3 КБ", "1,0 МБ".
void AppendByteCount(std::string& text, long long bytes) {
    const int unit = UnitOf(bytes);
    AppendFigure(text, bytes, unit);
    text += ' ';
    text += kUnits[unit];
}

}  // namespace

std::string FetchStatusText(const FileProgress& progress, long long bytesPerSecond) {
    std::string text = progress.entry;
    text += " — ";
    if (progress.total >= 0) {
        const int unit = UnitOf(progress.total);
        AppendFigure(text, progress.received, unit);
        text += " из ";
        AppendFigure(text, progress.total, unit);
        text += ' ';
        text += kUnits[unit];
        text += " (";
        AppendNumber(text, progress.total == 0 || progress.received >= progress.total
                               ? 100
                               : progress.received * 100 / progress.total);
        text += " %)";
    } else {
        AppendByteCount(text, progress.received);
    }
    if (bytesPerSecond >= 0) {
        text += ", ";
        AppendByteCount(text, bytesPerSecond);
        text += "/с";
    }
    if (progress.count > 0) {
        text += " — файл ";
        AppendNumber(text, progress.index);
        text += " из ";
        AppendNumber(text, progress.count);
    }
    return text;
}

std::optional<std::string> FetchStatus::Next(const FileProgress& progress, DWORD nowMs) {
    // Each file reports 0 bytes first.
    if (progress.received == 0) fileStart_ = nowMs;
    if (anyShown_ && nowMs - shownAt_ < kFetchStatusIntervalMs) return std::nullopt;
    const DWORD span = nowMs - fileStart_;
    const long long rate = span >= kShortestRateSpanMs ? progress.received * 1000 / span : -1;
    std::string text = FetchStatusText(progress, rate);
    if (anyShown_ && text == shown_) return std::nullopt;
    anyShown_ = true;
    shownAt_ = nowMs;
    shown_ = text;
    return text;
}

}  // namespace engine
