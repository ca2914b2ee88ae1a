#pragma once
// The application's start-up and shutdown around the message loop.

#include <QString>

// Title from the executable's name, the icon, the tool-tip timing, the toolkit's texts in
// Russian.
void SetUpApplication(const QString& executablePath);

// formMain, formSearsh and formHelp, in that order, hidden. The progress and help
// windows belong to the main window, so only it has a task-bar entry.
void CreateWindows();

// Destroys the three windows, the owned ones first.
void DestroyWindows();
