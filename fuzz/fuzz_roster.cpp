// The status line readers and the roster: every line of the input (code page 1250) read by
// every fixed-column reader, then the whole text as the roster text of the player table.
#include "roster/playerline.h"
#include "roster/roster.h"
#include "settings/settings.h"
#include "support/fuzzsupport.h"
#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"

using namespace vigilor;
using vigilor::fuzz::fail;

namespace {

constexpr int kRequiredRate = 25000;

// A reader that throws may only say that a number column holds no number.
template <typename Read> auto readOr(Read&& read, decltype(read()) otherwise)
{
    try {
        return read();
    } catch (const ConversionError&) {
        return otherwise;
    }
}

void checkLine(const QString& line)
{
    const bool player = roster::isPlayerLine(line);
    const int slot = readOr([&] { return roster::playerSlot(line); }, 0);
    const int score = readOr([&] { return roster::playerScore(line); }, 0);
    const int ping = readOr([&] { return roster::playerPing(line); }, 0);
    const int rate = readOr([&] { return roster::playerRate(line, kRequiredRate); }, 0);
    const QString name = roster::playerName(line);
    const QString address = roster::playerAddress(line);
    if (!player) {
        FUZZ_CHECK(slot == 255 && score == 0 && ping == 0 && rate == kRequiredRate, line);
        FUZZ_CHECK(name.isEmpty() && address.isEmpty(), line);
        return;
    }
    FUZZ_CHECK(slot >= 0 && slot <= 255, QString::number(slot));
    // Three columns hold at most 999 and at least -99.
    FUZZ_CHECK(score >= -99 && score <= 999, QString::number(score));
    FUZZ_CHECK(ping >= 0 && ping <= 65535, QString::number(ping));
    FUZZ_CHECK(rate >= 0 && rate <= 65535, QString::number(rate));
    FUZZ_CHECK(name.size() <= 20 && !name.endsWith(u' '), name);
    FUZZ_CHECK(address.size() <= 19 && !address.contains(u':'), address);
    FUZZ_CHECK(line.contains(name), name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    vigilor::fuzz::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString raw = text::fromCp1250(vigilor::fuzz::bytesOf(data, size));
    const QString text = text::stripColours(raw);
    FUZZ_CHECK(!text.contains(u'^'), text);
    FUZZ_CHECK(text::stripColours(text) == text, text);

    const QStringList lines = text::splitLines(text);
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(u'\n') && !line.contains(u'\r'), line);
        checkLine(line);
    }
    const int count = roster::playerCount(lines);
    FUZZ_CHECK(count >= 0 && count <= lines.size(), QString::number(count));
    FUZZ_CHECK(lines.size() > 4 || count == 0, QString::number(count));
    FUZZ_CHECK(roster::playerCount(text) == count, QString::number(count));

    // The names read again from the lines with their colour codes.
    const roster::StatusLayout layout = roster::statusLayout(lines);
    for (const QString& colouredLine : text::splitLines(raw)) {
        const QString name = roster::playerName(text::stripColours(colouredLine), layout);
        const QString coloured = roster::colouredPlayerName(colouredLine, layout);
        FUZZ_CHECK(coloured.isEmpty() == name.isEmpty() && coloured.size() >= name.size(),
                   colouredLine);
    }

    Settings settings;
    roster::Roster roster(settings, nullptr);
    roster.setText(lines);
    try {
        roster.refresh();
    } catch (const ConversionError&) {
        // The refresh ends at the first line whose number columns hold no number.
    }
    FUZZ_CHECK(roster.rows().size() == count % 256, QString::number(roster.rows().size()));
    for (const QStringList& row : roster.rows())
        FUZZ_CHECK(row.size() == roster::Roster::kColumns, row.join(u'|'));
    return 0;
}
