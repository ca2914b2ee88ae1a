#include "programmer/ProgramFiles.h"

#include "platform/FileIo.h"
#include "programmer/ProgramImage.h"
#include "programmer/Texts.h"

#include <algorithm>
#include <limits>

namespace {

void ClearCaptions(TProgramFileView& view) {
    view.SetProgramCaptions({}, {}, {});
}

TLoadResult RefuseUnreadable(TProgramFileView& view) {
    ProgramLoaded = false;
    ClearCaptions(view);
    view.SetProgramNameHint({});
    view.ShowNotice(NoticeFileUnreadable());
    return TLoadResult::Unreadable;
}

} // namespace

QString FileNamePart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

TLoadResult LoadProgramFile(TProgramFileView& view, const QString& path) {
    ClearCaptions(view);
    ProgramLoaded = false;

    TReadOnlyFile file;
    if (!file.Open(path))
        return RefuseUnreadable(view);
    const qint64 size = file.Size();
    if (size < 0)
        return RefuseUnreadable(view);
    // Kept even when the file is refused; saturated so a huge file cannot wrap around.
    ProgramSize = int(std::min<qint64>(size, std::numeric_limits<int>::max()));
    if (size > MaxFileSize) {
        file.Close();
        view.ShowNotice(NoticeFileTooLarge());
        return TLoadResult::TooLarge;
    }
    SectorCount = SectorsFor(ProgramSize);
    ProgramFileName = path;
    ProgramImage.fill(0xFF);
    if (!file.ReadExactly(ProgramImage.data(), ProgramSize))
        return RefuseUnreadable(view);

    view.SetProgramCaptions(FileNamePart(path), QString::number(ProgramSize),
                            QString::number(SectorCount));
    view.SetProgramNameHint(path);
    ProgramLoaded = true;
    return TLoadResult::Loaded;
}

bool LoadRememberedProgram(TProgramFileView& view, const QString& rememberedName) {
    ProgramLoaded = false;
    if (!FileExists(rememberedName)) {
        ClearCaptions(view);
        view.SetProgramNameHint({});
        return false;
    }
    LoadProgramFile(view, rememberedName);
    return true;
}

TSaveResult SaveDeviceImageAs(TNoticeView& view, const std::optional<QString>& chosenPath) {
    if (!chosenPath) {
        // The operator only learns that nothing was saved.
        view.ShowNotice(NoticeNothingSaved());
        return TSaveResult::Cancelled;
    }
    if (ReplaceFileContents(*chosenPath, DeviceImage.data(), MaxFileSize)) {
        DeviceImageValid = false;
        return TSaveResult::Saved;
    }
    view.ShowNotice(NoticeSaveFailed());
    DeviceImageValid = true;
    return TSaveResult::Failed;
}
