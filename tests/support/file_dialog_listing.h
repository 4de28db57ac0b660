#pragma once
// For tests that run the real open-file dialog on a folder.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

// Waits for the open-file dialog about to run modally to know the type of each of `names`
// in `folder` (by then it has learnt all it shows of them), calls `whileListed`, and
// cancels the dialog. `*listed` tells whether the dialog got that far.
inline void CancelFileDialogOnceListed(const QDir& folder, const QStringList& names, bool* listed,
                                       std::function<void()> whileListed = {}) {
  QTimer::singleShot(0, [=] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    const auto* model = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
    *listed = model && QTest::qWaitFor(
                           [&] {
                             return std::all_of(names.begin(), names.end(), [&](const QString& name) {
                               return !model->type(model->index(folder.filePath(name))).isEmpty();
                             });
                           },
                           5000);
    if (*listed && whileListed) whileListed();
    if (dialog) dialog->reject();
  });
}
