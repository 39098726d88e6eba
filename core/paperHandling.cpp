#include "core/paperHandling.h"

#include "core/printerCommands.h"

namespace {

// GS V: `mode` 1 partial, 2 full. The first selector takes it as it stands.
void cut(OutputBuffer& out, int mode) { command::cut(out, 1, mode, 0, 1); }

}  // namespace

CutWhen cutWhen(const settingsThermalSensitivityPara& s)
{
    switch (GetPaperCutMode(s)) {
    case 1:
    case 2: return CutWhen::EachCopy;
    case 3:
    case 4: return CutWhen::JobEnd;
    default: return CutWhen::Never;
    }
}

std::vector<unsigned char> copySetUp(const settingsThermalSensitivityPara& s)
{
    const int feed = GetOpeningFeed(s);
    // A feed goes out as one ESC J per 256 dots and the rest.
    const long long feedCommands = feed > 0 ? 8LL * feed / 256 + 1 : 0;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(16 + 3 * feedCommands));
    int length = 0;
    OutputBuffer out(bytes.data(), static_cast<int>(bytes.size()), length);
    command::initialise(out);
    if (GetMediaTypeSet(s) == 1) {
        command::paperMode(out, GetPaperMode(s));
    }
    command::density(out, GetDensity(s));
    command::justification(out, static_cast<unsigned int>(GetAlignment()));
    if (feed > 0) {
        command::feed(out, feed);
    }
    bytes.resize(static_cast<std::size_t>(length));
    return bytes;
}

void copyCut(OutputBuffer& out, const settingsThermalSensitivityPara& s)
{
    if (cutWhen(s) == CutWhen::EachCopy) {
        cut(out, GetPaperCutMode(s));
    }
}

void jobEndCut(OutputBuffer& out, const settingsThermalSensitivityPara& s)
{
    if (cutWhen(s) == CutWhen::JobEnd) {
        cut(out, GetPaperCutMode(s) - 2);
    }
}
