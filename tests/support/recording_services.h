#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "framework/modal_services.h"

// Modal services that record what was asked and answer from prepared replies, never blocking.
class RecordingServices : public ModalServices {
 public:
  struct Box {
    QString text;
    QString caption;
    UINT type;
  };

  int MessageBox(QWidget*, const QString& text, const QString& caption, UINT type) override {
    boxes.push_back({text, caption, type});
    return 1;
  }
  std::optional<QStringList> OpenFileDialog(QWidget*, const QString& filter, bool allowMultiple) override {
    fileFilters << filter;
    multipleAllowed = allowMultiple;
    return fileReply;
  }
  bool OpenUrl(const QString& url) override {
    urls << url;
    return true;
  }
  bool StartProgram(const QString& program, const QStringList& arguments) override {
    programs.push_back({program, arguments});
    return startSucceeds;
  }

  std::vector<Box> boxes;
  QStringList fileFilters;
  bool multipleAllowed = false;
  std::optional<QStringList> fileReply;  // nothing: the user cancels
  QStringList urls;
  std::vector<std::pair<QString, QStringList>> programs;
  bool startSucceeds = true;
};

// Installs itself for the life of the object.
class ScopedRecordingServices : public RecordingServices {
 public:
  ScopedRecordingServices() : m_scope(*this) {}

 private:
  ScopedModalServices m_scope;
};
