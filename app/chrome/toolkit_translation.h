// The toolkit's own texts (file chooser, standard buttons) in Chinese, like the rest of the
// window.
#pragma once

class QCoreApplication;
class QTranslator;

// Loads "qtbase_zh_CN" from the toolkit's translation folder, or from "translations" beside the
// program (where a Windows installation puts it), and installs it on `app`, which owns it.
// Null when neither holds it: the toolkit then speaks English.
QTranslator* installToolkitTranslation(QCoreApplication& app);
