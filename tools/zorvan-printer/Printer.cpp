#include "Printer.h"

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <memory>

namespace zsim {

namespace {

std::string hex(std::span<const std::uint8_t> bytes, std::size_t max = 8) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (!s.empty()) s += ' ';
        s += buf;
    }
    if (bytes.size() > max) s += " ...";
    return s;
}

const char* alignName(int a) {
    switch (a) {
        case 0: return "left";
        case 1: return "centre";
        case 2: return "right";
        default: return "?";
    }
}

}  // namespace

Printer::Printer(const PrinterConfig& cfg, const StatusScript& script, std::FILE* listing, bool echo)
    : cfg_(cfg), script_(script), listing_(listing), echo_(echo) {
    Answer first = script_.answerFor(1);
    if (first.hasStatus) condition_ = first.status;
}

void Printer::continueFrom(long queriesSoFar, std::uint8_t condition) {
    queryBase_ = queriesSoFar;
    condition_ = condition;
}

void Printer::scriptChanged(double now) {
    Answer next = script_.answerFor(queryNumber() + 1);
    if (next.hasStatus) condition_ = next.status;
    note(now, "note: status file changed; the printer now reports " + describeStatus(condition_) + " (" + next.text + ")");
}

void Printer::line(double now, std::uint64_t offset, std::span<const std::uint8_t> bytes, const std::string& text) {
    char head[64];
    std::snprintf(head, sizeof head, "%9.3f %9" PRIu64 "  ", now, offset);
    std::string h = hex(bytes);
    std::string out = std::string(head) + h + std::string(h.size() < 23 ? 23 - h.size() : 0, ' ') + "  " + text + "\n";
    if (listing_) std::fputs(out.c_str(), listing_);
    if (echo_) std::fputs(out.c_str(), stderr);
}

void Printer::note(double now, const std::string& text) { line(now, offset_, {}, text); }

void Printer::flushUnknown(double now) {
    if (unknown_.empty()) return;
    stats_.unknownBytes += unknown_.size();
    stats_.unknownRuns++;
    std::string text = "unknown bytes: " + std::to_string(unknown_.size());
    if (unknownAfterRaster_) {
        stats_.errors++;
        text = "ERROR: " + std::to_string(unknown_.size()) + " unknown bytes right after raster #" +
               std::to_string(rasterNumber_) + " (its header announces fewer rows than were sent?)";
    }
    line(now, unknownOffset_, unknown_, text);
    unknown_.clear();
    unknownAfterRaster_ = false;
}

void Printer::advance(double now, double rows) {
    double rowTime = cfg_.speedMmPerS > 0 ? 1.0 / (cfg_.speedMmPerS * cfg_.dotsPerMm) : 0.0;
    busyUntil_ = std::max(busyUntil_, now) + rows * rowTime;
}

void Printer::addPaperRow(const std::vector<std::uint8_t>& row) {
    if (paperRows_ >= cfg_.maxPaperRows) {
        if (!paperFull_) {
            paperFull_ = true;
            stats_.errors++;
            line(now_, offset_, {}, "ERROR: the picture holds at most " + std::to_string(cfg_.maxPaperRows) +
                                     " rows; later rows are not drawn");
        }
        return;
    }
    paper_.insert(paper_.end(), row.begin(), row.end());
    ++paperRows_;
}

Printer::Decode Printer::tryCommand(double now, std::vector<TimedWrite>& out) {
    const auto& c = cmd_;
    const std::size_t n = c.size();
    auto need = [&](std::size_t k) { return n < k; };
    auto done = [&](const std::string& text) {
        flushUnknown(now);
        stats_.commands++;
        line(now, cmdOffset_, c, text);
        lastWasRaster_ = false;
        return Decode::Done;
    };

    switch (c[0]) {
        case 0x1B: {
            if (need(2)) return Decode::NeedMore;
            switch (c[1]) {
                case 0x40:
                    stats_.initialise++;
                    justification_ = 0;
                    return done("initialise");
                case 0x6D:
                    stats_.cuts++;
                    return done("partial cut");
                case 0x69:
                    stats_.cuts++;
                    return done("full cut");
                case 0x61: case 0x01: case 0x4A: case 0x05: case 0x03: case 0x06:
                    break;
                default:
                    return Decode::Unknown;
            }
            if (need(3)) return Decode::NeedMore;
            int v = c[2];
            switch (c[1]) {
                case 0x61: {
                    int a = (v >= 0x30 && v <= 0x32) ? v - 0x30 : v;
                    if (a <= 2) {
                        justification_ = a;
                        return done("justification " + std::to_string(v) + " (" + alignName(a) + ")");
                    }
                    return done("justification " + std::to_string(v) + " (not a valid value; ignored)");
                }
                case 0x01:
                    return done("paper mode " + std::to_string(v));
                case 0x4A: {
                    stats_.feeds++;
                    if (!printing()) return done("feed " + std::to_string(v) + " dots -- NOT FED: printer reports " + describeStatus(condition_));
                    stats_.feedDots += static_cast<std::uint64_t>(v);
                    std::vector<std::uint8_t> white(static_cast<std::size_t>(cfg_.headWidth), 255);
                    for (int i = 0; i < v; ++i) addPaperRow(white);
                    advance(now, v);
                    return done("feed " + std::to_string(v) + " dots");
                }
                case 0x05:
                    return done("standby time " + std::to_string(v));
                case 0x03:
                    return done("self test " + std::to_string(v));
                case 0x06:
                    return done("button print " + std::to_string(v));
            }
            return Decode::Unknown;
        }
        case 0x1D: {
            if (need(2)) return Decode::NeedMore;
            if (c[1] == 0x83) {
                if (need(3)) return Decode::NeedMore;
                return done("density " + std::to_string(c[2]));
            }
            if (c[1] == 0x76) {
                if (need(3)) return Decode::NeedMore;
                if (c[2] != 0x30) return Decode::Unknown;
                if (need(8)) return Decode::NeedMore;
                flushUnknown(now);
                stats_.commands++;
                startRaster(now, cmdOffset_);
                return Decode::Done;
            }
            if (c[1] == 0x56) {
                if (need(3)) return Decode::NeedMore;
                int m = c[2];
                if (m == 0x41 || m == 0x42) {
                    if (need(4)) return Decode::NeedMore;
                    stats_.cuts++;
                    return done(std::string(m == 0x41 ? "full cut" : "partial cut") + " (GS V " + std::to_string(m) +
                                ", feed " + std::to_string(c[3]) + ")");
                }
                if (m == 0x00 || m == 0x01 || m == 0x30 || m == 0x31) {
                    stats_.cuts++;
                    return done(std::string((m & 1) ? "partial cut" : "full cut") + " (GS V " + std::to_string(m) + ")");
                }
                return Decode::Unknown;
            }
            return Decode::Unknown;
        }
        case 0x16: {
            if (need(2)) return Decode::NeedMore;
            if (c[1] != 0x04) return Decode::Unknown;
            if (need(3)) return Decode::NeedMore;
            if (c[2] != 0x04) return Decode::Unknown;
            long q = queryBase_ + ++stats_.queries;
            Answer a = script_.answerFor(q, rasterSinceQuery_ ? rasterNumber_ : 0);
            if (a.hasStatus) condition_ = a.status;
            rasterSinceQuery_ = false;
            std::string text = "status query #" + std::to_string(q);
            if (!cfg_.answerQueries) {
                text += " (decode only, not answered; script: " + a.text + ")";
            } else if (!a.reply) {
                stats_.unanswered++;
                text += " -> no reply (" + a.text + ")";
            } else {
                double due = std::max({now, busyUntil_, lastDue_}) + a.delayMs / 1000.0;
                if (!a.stray.empty()) out.push_back({due, a.stray, q, false});
                if (a.splitMs >= 0 && a.bytes.size() > 3) {
                    out.push_back({due, {a.bytes.begin(), a.bytes.begin() + 3}, q, false});
                    due += a.splitMs / 1000.0;
                    out.push_back({due, {a.bytes.begin() + 3, a.bytes.end()}, q, true});
                } else {
                    out.push_back({due, a.bytes, q, true});
                }
                lastDue_ = due;
                stats_.replies++;
                bool valid = a.bytes.size() >= 3 && a.bytes[0] == 0x10 && a.bytes[1] == 0x04 && a.bytes[2] == 0x04;
                text += " -> " + hex(a.bytes, 16);
                if (a.hasStatus) text += " (" + describeStatus(a.status) + ")";
                char when[48];
                std::snprintf(when, sizeof when, " at %.3f", due);
                text += when;
                if (a.delayMs) text += " delay " + std::to_string(a.delayMs) + " ms";
                if (a.splitMs >= 0) text += " split " + std::to_string(a.splitMs) + " ms";
                if (!a.stray.empty()) text += " after stray " + hex(a.stray, 16);
                // A garbled answer leaves the copy to be acknowledged by the next.
                if (ackPending_ && valid) {
                    ackPending_ = false;
                    stats_.copiesAcknowledged++;
                    text += ", acknowledges raster #" + std::to_string(rasterNumber_);
                }
            }
            return done(text);
        }
        case 0x10: {
            if (need(2)) return Decode::NeedMore;
            if (c[1] != 0x04) return Decode::Unknown;
            if (need(3)) return Decode::NeedMore;
            if (c[2] == 0x04) {
                stats_.otherQueries++;
                return done("status request DLE EOT 4 (not answered: this printer answers 16 04 04)");
            }
            if (c[2] == 0x05) {
                stats_.otherQueries++;
                return done("battery query DLE EOT 5 (not answered)");
            }
            return Decode::Unknown;
        }
        default:
            return Decode::Unknown;
    }
}

void Printer::startRaster(double now, std::uint64_t offset) {
    rasterMode_ = cmd_[3];
    rasterBytesPerRow_ = cmd_[4] | (cmd_[5] << 8);
    rasterRows_ = cmd_[6] | (cmd_[7] << 8);
    rasterRemaining_ = static_cast<std::uint64_t>(rasterBytesPerRow_) * rasterRows_;
    rowsDone_ = 0;
    rowBuf_.clear();
    rowBuf_.reserve(rasterBytesPerRow_);
    queryMatch_ = 0;
    rasterHoldsQuery_ = false;
    rasterNumber_ = ++stats_.rasters;
    if (firstRasterAt_ == 0) {
        // Wall-clock time, to set beside the moment a job was submitted.
        firstRasterAt_ = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
    rasterPrinting_ = printing();
    int sx = (rasterMode_ & 1) ? 2 : 1, sy = (rasterMode_ & 2) ? 2 : 1;
    long dots = static_cast<long>(rasterBytesPerRow_) * 8 * sx;
    rasterClipped_ = dots > cfg_.headWidth;

    std::string text = "raster #" + std::to_string(rasterNumber_) + ": " + std::to_string(rasterBytesPerRow_) + " x " +
                       std::to_string(rasterRows_) + " bytes (" + std::to_string(dots) + " x " +
                       std::to_string(static_cast<long>(rasterRows_) * sy) + " dots), mode " + std::to_string(rasterMode_);
    if (rasterMode_ > 3 && !(rasterMode_ >= 0x30 && rasterMode_ <= 0x33)) text += " (unknown mode, printed as 0)";
    if (rasterClipped_) text += " -- CLIPPED to the head's " + std::to_string(cfg_.headWidth) + " dots";
    if (!rasterPrinting_) text += " -- NOT PRINTED: printer reports " + describeStatus(condition_);
    line(now, offset, cmd_, text);
    lastWasRaster_ = false;
    if (rasterPrinting_)
        stats_.rastersPrinted++;
    else
        stats_.rastersWhileError++;
    inRaster_ = rasterRemaining_ > 0;
    if (!inRaster_) endRaster(now);
}

void Printer::endRaster(double now) {
    inRaster_ = false;
    if (rasterHoldsQuery_) {
        stats_.swallowedQueries++;
        line(now, rasterQueryOffset_, {}, "note: raster #" + std::to_string(rasterNumber_) +
                 " data holds the bytes 16 04 04 (a status query swallowed as image?)");
    }
    lastWasRaster_ = true;
    rasterSinceQuery_ = true;
    ackPending_ = true;
}

void Printer::rasterRow(double now) {
    int m = rasterMode_ & 3;
    int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
    stats_.rasterRows++;
    if (rasterClipped_) stats_.clippedRows++;
    if (!rasterPrinting_) {
        stats_.rowsWhileError++;
        return;
    }
    const long width = cfg_.headWidth;
    const long dots = static_cast<long>(rowBuf_.size()) * 8 * sx;
    long x0 = 0;
    if (dots < width) x0 = justification_ == 1 ? (width - dots) / 2 : justification_ == 2 ? width - dots : 0;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width), 255);
    for (std::size_t i = 0; i < rowBuf_.size(); ++i) {
        std::uint8_t b = rowBuf_[i];
        if (!b) continue;
        for (int bit = 0; bit < 8; ++bit) {
            if (!(b & (0x80 >> bit))) continue;
            long d = static_cast<long>(i) * 8 + bit;
            for (int r = 0; r < sx; ++r) {
                long x = x0 + d * sx + r;
                if (x < width) row[static_cast<std::size_t>(x)] = 0;
            }
        }
    }
    for (int r = 0; r < sy; ++r) addPaperRow(row);
    stats_.rowsPrinted++;
    advance(now, sy);
}

void Printer::takeByte(std::uint8_t b, std::uint64_t off, double now, std::vector<TimedWrite>& out) {
    if (inRaster_) {
        rasterData(&b, 1, now);
        return;
    }
    if (cmd_.empty()) cmdOffset_ = off;
    cmd_.push_back(b);
    Decode r = tryCommand(now, out);
    if (r == Decode::Done) {
        cmd_.clear();
        return;
    }
    if (r == Decode::NeedMore) return;
    // Not a command: its first byte is unknown; the rest may start one.
    if (unknown_.empty()) {
        unknownOffset_ = cmdOffset_;
        unknownAfterRaster_ = lastWasRaster_;
    }
    unknown_.push_back(cmd_[0]);
    std::vector<std::uint8_t> rest(cmd_.begin() + 1, cmd_.end());
    std::uint64_t restOff = cmdOffset_ + 1;
    cmd_.clear();
    for (std::size_t i = 0; i < rest.size(); ++i) takeByte(rest[i], restOff + i, now, out);
}

void Printer::rasterData(const std::uint8_t* p, std::size_t n, double now) {
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t b = p[i];
        // Track 16 04 04 across the data: a hint that the header promised more than was sent.
        if (b == 0x16)
            queryMatch_ = 1;
        else if (b == 0x04 && queryMatch_ >= 1)
            queryMatch_++;
        else
            queryMatch_ = 0;
        if (queryMatch_ == 3 && !rasterHoldsQuery_) {
            rasterHoldsQuery_ = true;
            rasterQueryOffset_ = offset_ + i - 2;
        }
        if (queryMatch_ >= 3) queryMatch_ = 0;
        rowBuf_.push_back(b);
        if (rowBuf_.size() == rasterBytesPerRow_) {
            rasterRow(now);
            rowBuf_.clear();
            rowsDone_++;
        }
    }
    stats_.rasterBytes += n;
    rasterRemaining_ -= n;
    if (rasterRemaining_ == 0) endRaster(now);
}

void Printer::feed(std::span<const std::uint8_t> bytes, double now, std::vector<TimedWrite>& out) {
    now_ = now;
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (inRaster_) {
            std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(rasterRemaining_, bytes.size() - i));
            rasterData(bytes.data() + i, k, now);
            offset_ += k;
            i += k;
            continue;
        }
        std::uint64_t off = offset_++;
        takeByte(bytes[i++], off, now, out);
    }
}

void Printer::finish(double now) {
    // A partial command at the end is unknown bytes followed perhaps by a cut-off command.
    if (!inRaster_ && !cmd_.empty()) {
        stats_.unfinishedCommand = true;
        stats_.errors++;
        flushUnknown(now);
        line(now, cmdOffset_, cmd_, "ERROR: input ended inside a command");
        cmd_.clear();
    }
    flushUnknown(now);
    if (inRaster_) {
        stats_.unfinishedRaster = true;
        stats_.unfinishedMissing = rasterRemaining_;
        stats_.errors++;
        std::uint64_t total = static_cast<std::uint64_t>(rasterBytesPerRow_) * rasterRows_;
        line(now, offset_, {}, "ERROR: input ended inside raster #" + std::to_string(rasterNumber_) + ": " +
                 std::to_string(rasterRemaining_) + " of " + std::to_string(total) + " data bytes missing (" +
                 std::to_string(rowsDone_) + " of " + std::to_string(rasterRows_) + " rows complete)");
    }
    char text[96];
    std::snprintf(text, sizeof text, "end of input after %" PRIu64 " bytes; paper %" PRIu64 " rows", offset_, paperRows_);
    line(now, offset_, {}, text);
}

bool Printer::writePng(const std::string& path, std::string& error) const {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, nullptr);
        error = "libpng: out of memory";
        return false;
    }
    const std::uint32_t width = static_cast<std::uint32_t>(cfg_.headWidth);
    const std::uint32_t height = paperRows_ ? static_cast<std::uint32_t>(paperRows_) : 1;
    std::vector<std::uint8_t> blank(width, 255);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "libpng failed writing " + path;
        return false;
    }
    png_init_io(png, f.get());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // 8 dots per mm.
    png_set_pHYs(png, info, 8000, 8000, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = paperRows_ ? paper_.data() + static_cast<std::size_t>(y) * width : blank.data();
        png_write_row(png, const_cast<png_bytep>(row));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool Printer::writeSummary(const std::string& path, const std::vector<std::pair<std::string, std::string>>& extra,
                           std::string& error) const {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "w"), &std::fclose);
    if (!f) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    auto kv = [&](const char* k, auto v) { std::fprintf(f.get(), "%s=%s\n", k, std::to_string(v).c_str()); };
    auto yn = [&](const char* k, bool v) { std::fprintf(f.get(), "%s=%s\n", k, v ? "yes" : "no"); };
    kv("bytes_in", offset_);
    kv("commands", stats_.commands);
    kv("initialise", stats_.initialise);
    kv("rasters", stats_.rasters);
    kv("rasters_printed", stats_.rastersPrinted);
    kv("raster_rows", stats_.rasterRows);
    kv("rows_printed", stats_.rowsPrinted);
    kv("raster_bytes", stats_.rasterBytes);
    kv("feeds", stats_.feeds);
    kv("feed_dots", stats_.feedDots);
    kv("cuts", stats_.cuts);
    kv("queries", stats_.queries);
    kv("queries_answered", stats_.replies);
    kv("queries_unanswered", stats_.unanswered);
    kv("other_queries", stats_.otherQueries);
    kv("copies_acknowledged", stats_.copiesAcknowledged);
    kv("clipped_rows", stats_.clippedRows);
    kv("printed_while_error", stats_.rastersWhileError);
    kv("rows_while_error", stats_.rowsWhileError);
    yn("unfinished_raster", stats_.unfinishedRaster);
    kv("unfinished_raster_missing_bytes", stats_.unfinishedMissing);
    yn("unfinished_command", stats_.unfinishedCommand);
    kv("unknown_bytes", stats_.unknownBytes);
    kv("swallowed_query_patterns", stats_.swallowedQueries);
    kv("errors", stats_.errors);
    kv("paper_width", cfg_.headWidth);
    kv("paper_rows", paperRows_);
    yn("paper_truncated", paperFull_);
    if (firstRasterAt_ != 0) std::fprintf(f.get(), "first_raster_at=%.6f\n", firstRasterAt_);
    for (const auto& [k, v] : extra) std::fprintf(f.get(), "%s=%s\n", k.c_str(), v.c_str());
    return true;
}

}  // namespace zsim
