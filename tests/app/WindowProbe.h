#pragma once

#include "ScriptedEngine.h"
#include "frmPing.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

// A window on a scripted engine, with its controls looked up by name and the
// beeps counted.
struct WindowProbe {
    ScriptedEngine engine;
    int beeps = 0;
    std::unique_ptr<frmPing> window;

    explicit WindowProbe(const QString &commandLine = {})
        : window(std::make_unique<frmPing>(
              engine, [this] { ++beeps; }, commandLine))
    {
    }

    template <typename T = QLabel> T *control(const char *name) const
    {
        auto *found = window->findChild<T *>(name);
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QString text(const char *name) const { return control(name)->text(); }
    QLineEdit *hostBox() const { return control<QLineEdit>("HostName"); }
    QPushButton *button() const { return control<QPushButton>("Command1"); }
    bool creditsShown() const
    {
        return !control("Label7")->isHidden() && !control("Label9")->isHidden();
    }
    QStringList takeWrites()
    {
        QStringList w = engine.writes;
        engine.writes.clear();
        return w;
    }
};
