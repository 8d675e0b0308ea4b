// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Form.h"

#include <QMainWindow>
#include <QMargins>

#include <map>
#include <memory>
#include <string>

class QAction;

namespace form::qt {

class FormView;

// A top-level window around a model form: its frame, title, menu bar and view.
class FormWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit FormWindow(Form& form, QWidget* parent = nullptr);
    ~FormWindow() override;

    FormView* view() const { return view_; }
    QAction* action(const std::string& entry) const;
    // Takes the model over, for a window that is discarded with its form.
    void adopt(std::unique_ptr<Form> form) { owned_ = std::move(form); }
    void showCentred();
    void sync();

protected:
    void handActivationOn();
    QWidget* waitingWindow() const;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    void focusFirstButton();
    void centreOnScreen(const QMargins& frame);

    Form& form_;
    std::unique_ptr<Form> owned_;
    FormView* view_;
    std::map<std::string, QAction*> actions_;
    bool shownOnce_ = false;
    QMargins centredWith_;
};

} // namespace form::qt
