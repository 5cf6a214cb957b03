#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "tessel/qt/runtime.h"

namespace tessel::qt {

void PrepareApplication() {
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void UseProgramLook(QApplication& app) {
    // WenQuanYi Micro Hei keeps close to SimSun's widths (12 pixels a Chinese character, about
    // 6 a Latin letter; its mono face gives 7), so texts fit the units as the form measured them.
    QFont::insertSubstitution(QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"));
    QFont font(QStringLiteral("SimSun"));
    font.setPixelSize(12);  // 9 points at 96 dots per inch, whatever the screen reports
    QApplication::setFont(font);
    static QTranslator qtbase;
    if (qtbase.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                    QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtbase);
}

}  // namespace tessel::qt
