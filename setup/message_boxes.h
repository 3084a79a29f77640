// The form's message boxes, behind one small interface so that tests can
// script the answers and read what was shown.
#pragma once

#include <QString>

class QWidget;

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;

    // An OK box with no icon; returns when the user has closed it.
    virtual void Ok(const QString& text) = 0;

    // A Yes/No question with the question icon; true only for Yes.
    virtual bool YesNo(const QString& text) = 0;
};

// Real boxes, modal and owned by `owner`, captioned with the application
// title: the program file's name without extension, as Qt derives it.
class FormMessageBoxes final : public MessageBoxes {
  public:
    explicit FormMessageBoxes(QWidget* owner) : m_owner(owner) {}
    void Ok(const QString& text) override;
    bool YesNo(const QString& text) override;

  private:
    QWidget* m_owner;
};
