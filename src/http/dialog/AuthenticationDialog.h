#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>

#include "http/HTTPRequest.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace http {

// The login form shown when a server or proxy asks a request for credentials and the request
// allows a dialog. One dialog is open at a time, window-modal over the application's main
// window; requests that ask meanwhile wait, and one answer goes to every waiting request that
// asked the same server (host, port, scheme) for the same realm and kind of login. Login sets
// the typed user name and password (and, for NTLM, the domain) on each of them and retries
// them; Cancel ends them all. Everything here runs on the GUI thread.
class AuthenticationDialog : public QDialog {
    Q_OBJECT
public:
    // Makes the engine show this dialog (HTTPRequest::setAuthenticationDialogPresenter).
    static void install();
    static void presentAuthenticationDialogForRequest(const HTTPRequestPtr& request);
    // The window dialogs open over; the active window when none is set.
    static void setPresentingWindow(QWidget* window);
    // The dialog on screen, if any, and the requests waiting for one.
    static AuthenticationDialog* current();
    static QList<HTTPRequestPtr> waitingRequests();

    HTTPRequestPtr request() const { return request_; }
    // 0 for a server login, 1 for a proxy login.
    int type() const { return type_; }
    QLineEdit* usernameField() const { return usernameField_; }
    QLineEdit* passwordField() const { return passwordField_; }
    // None unless the scheme is NTLM.
    QLineEdit* domainField() const { return domainField_; }
    QLabel* promptLabel() const { return promptLabel_; }
    QLabel* headerLabel() const { return headerLabel_; }
    QLabel* footerLabel() const { return footerLabel_; }
    QPushButton* loginButton() const { return loginButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

    // The waiting requests this dialog answers for, then its own request last.
    QList<HTTPRequestPtr> requestsRequiringTheseCredentials() const;
    void loginWithCredentialsFromDialog();
    void cancelAuthenticationFromDialog();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AuthenticationDialog(const HTTPRequestPtr& request, QWidget* parent);
    void showTitle();
    void dismiss();
    static void presentNextDialog();

    HTTPRequestPtr request_;
    int type_ = 0;
    QLineEdit* usernameField_ = nullptr;
    QLineEdit* passwordField_ = nullptr;
    QLineEdit* domainField_ = nullptr;
    QLabel* promptLabel_ = nullptr;
    QLabel* headerLabel_ = nullptr;
    QLabel* footerLabel_ = nullptr;
    QPushButton* loginButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    bool answered_ = false;
};

}  // namespace http
