// The open and save file dialogs.
//
// Filter is "description|pattern|description|pattern..." (patterns of one entry separated by ';'). Execute runs
// the dialog modally and returns true with FileName holding the chosen full path, false when cancelled. A name
// typed without extension gets "." + DefaultExt appended.
//
// Unattended (TARVO_UNATTENDED=1) no dialog appears: Execute writes one line
//   FileDialog [title]: filter -> answer
// to standard error and answers with the file named by TARVO_UNATTENDED_FILE (relative names taken from
// InitialDir, DefaultExt appended, the options checked as the dialog would) or Cancel when it is unset or does
// not pass the options. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/classes.h"
#include "rtl/typinfo.h"

enum TOpenOption {
  ofReadOnly,
  ofOverwritePrompt,
  ofHideReadOnly,
  ofNoChangeDir,
  ofShowHelp,
  ofNoValidate,
  ofAllowMultiSelect,
  ofExtensionDifferent,
  ofPathMustExist,
  ofFileMustExist,
  ofCreatePrompt,
  ofShareAware,
  ofNoReadOnlyReturn,
  ofNoTestFileCreate,
  ofNoNetworkButton,
  ofNoLongNames,
  ofOldStyleDialog,
  ofNoDereferenceLinks,
  ofEnableIncludeNotify,
  ofEnableSizing
};
using TOpenOptions = std::uint32_t;  // bit (1 << TOpenOption) per member
constexpr TOpenOptions OpenOption(TOpenOption o) { return 1u << o; }

class TOpenDialog : public TComponent {
 public:
  TARVO_PUBLISHED(TOpenDialog)
  explicit TOpenDialog(TComponent* AOwner);

  virtual bool Execute();

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& name) { FFileName = name; }
  const std::string& Filter() const { return FFilter; }
  void SetFilter(const std::string& filter) { FFilter = filter; }
  int FilterIndex() const { return FFilterIndex; }  // 1-based
  void SetFilterIndex(int index) { FFilterIndex = index; }
  const std::string& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const std::string& ext) { FDefaultExt = ext; }
  const std::string& InitialDir() const { return FInitialDir; }
  void SetInitialDir(const std::string& dir) { FInitialDir = dir; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& title) { FTitle = title; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions options) { FOptions = options; }
  bool HasOption(TOpenOption o) const { return (FOptions & OpenOption(o)) != 0; }

 protected:
  bool DoExecute(bool save);

 private:
  std::string FFileName;
  std::string FFilter;
  int FFilterIndex = 1;
  std::string FDefaultExt;
  std::string FInitialDir;
  std::string FTitle;
  TOpenOptions FOptions = OpenOption(ofHideReadOnly) | OpenOption(ofEnableSizing);
};

class TSaveDialog : public TOpenDialog {
 public:
  TARVO_PUBLISHED(TSaveDialog)
  explicit TSaveDialog(TComponent* AOwner);
  bool Execute() override;
};
