// SPDX-License-Identifier: MIT
// The open operation of a file dialog: shows a Qt file dialog built from the settings.
#pragma once

#include "commands/file_dialog_settings.h"

#include <QStringList>

#include <vector>

class QWidget;

namespace jiajiemi {

// Modal to the application while it is shown. True when the user confirmed a name, which
// then stands in settings.fileName as a full path; false leaves the settings as they were.
bool OpenFileDialog(FileDialogSettings& settings, QWidget* parent);

// The types as Qt's name filters, "description (patterns)"; a type without a pattern
// offers every file.
QStringList NameFilters(const std::vector<FileType>& types);

}  // namespace jiajiemi
