// Start-up pieces shared by the program and its tests.
#pragma once

class QCoreApplication;

namespace kelvo {

// Loads Qt's German translation, so standard buttons read Ja / Nein / OK.
void installGermanTranslation(QCoreApplication& app);

} // namespace kelvo
