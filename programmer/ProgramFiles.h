#pragma once
// Moving the images between disk and memory: loading a program file into ProgramImage
// and saving DeviceImage. Each operation hands its own notices to the view and says
// what it came to.

#include "programmer/Notice.h"

#include <QString>
#include <optional>

// The three fields of the main window that describe the loaded program file, and the
// notices of the load.
class TProgramFileView : public TNoticeView {
public:
    virtual void SetProgramCaptions(const QString& name, const QString& size,
                                    const QString& sectors) = 0;
    // The tool tip of the name field: the full path of the loaded file.
    virtual void SetProgramNameHint(const QString& hint) = 0;
};

enum class TLoadResult { Loaded, Unreadable, TooLarge };

// Loads the file into ProgramImage and fills or clears the view's fields.
TLoadResult LoadProgramFile(TProgramFileView& view, const QString& path);

// The start-up load of the remembered file. Returns false, with the fields and the hint
// blanked and no message, when no file exists under that name.
bool LoadRememberedProgram(TProgramFileView& view, const QString& rememberedName);

enum class TSaveResult { Saved, Cancelled, Failed };

// Save As once the save dialog has answered: nullopt when it was cancelled.
TSaveResult SaveDeviceImageAs(TNoticeView& view, const std::optional<QString>& chosenPath);

// The file-name part of a path, without folders.
QString FileNamePart(const QString& path);
