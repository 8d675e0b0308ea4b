// SPDX-License-Identifier: GPL-3.0-or-later

// The main of every test program that needs a QApplication.
#include "Fonts.h"
#include "Look.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Tests never need a display; listing them must work without one too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    form::qt::installFontSubstitutes();
    form::qt::installLook();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
