#pragma once

#include <QString>

class QWidget;

// Everything the program asks the user outside its own windows — message boxes, file dialogs,
// the help viewer — goes through one replaceable object, so tests can script the answers and
// read what was shown.

// Answers carry the platform's message-box result numbers, which callers compare against.
enum class MsgAnswer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Warning, Error, Question };

// Caption of a message box when the caller gives none.
inline constexpr const char* kMessageCaption = "Quillo";

class CUiSeam {
public:
    virtual ~CUiSeam() = default;

    // Shows text with the buttons and returns the one chosen; closing the box answers Cancel
    // (No for a box without Cancel, Ok for a box with Ok alone).
    virtual MsgAnswer MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                 MsgButtons buttons, MsgIcon icon) = 0;
    // The chosen file's path, or the empty text when the user cancels. filter as in
    // QFileDialog ("テキスト (*.txt);;すべて (*)").
    virtual QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) = 0;
    virtual QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) = 0;
    // Starts the help viewer on helpFile; false when it could not be started.
    virtual bool StartHelp(const QString& helpFile) = 0;
};

// The object in use: the one given to SetUiSeam, else the Qt dialogs.
CUiSeam& Ui();
// Puts seam in use (null: the Qt dialogs again) and returns the one used before.
CUiSeam* SetUiSeam(CUiSeam* seam);

// Puts a seam in use for the lifetime of this object.
class CUiSeamScope {
public:
    explicit CUiSeamScope(CUiSeam& seam) : m_previous(SetUiSeam(&seam)) {}
    ~CUiSeamScope() { SetUiSeam(m_previous); }
    CUiSeamScope(const CUiSeamScope&) = delete;
    CUiSeamScope& operator=(const CUiSeamScope&) = delete;

private:
    CUiSeam* m_previous;
};

// Ui().MessageBox with the usual caption.
MsgAnswer ShowMessage(QWidget* parent, const QString& text, MsgButtons buttons = MsgButtons::Ok,
                      MsgIcon icon = MsgIcon::Information);
