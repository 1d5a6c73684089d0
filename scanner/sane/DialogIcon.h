// The program's icon for the scanner layer's dialogs.
#pragma once

#include <QIcon>

class QWidget;

namespace kelvo {

// The application's icon when it has one, else that of the window the dialog belongs to.
QIcon dialogIcon(QWidget* parent);

} // namespace kelvo
