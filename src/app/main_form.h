#pragma once

// The main window. Its controls keep the names the form gives them; its
// handlers are defined by area in main_form_<area>.cpp and stay thin: read the
// controls, call the core, apply the result.

#include "admin/admin_action.h"
#include "session/client_socket.h"
#include "session/console_session.h"
#include "storage/text_file.h"

#include <QMainWindow>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>

class Dialogs;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class TAboutForm;
class TListBox;
class TSpinEdit;
class TStringGrid;

struct MainFormOptions
{
    // settings.ini; empty means beside the executable.
    QString settingsPath;
    // The modal boxes; null means the real ones.
    std::shared_ptr<Dialogs> dialogs;
    // How long a command's reply may take before the next command goes out.
    std::chrono::milliseconds replyTimeout{10000};
};

class TMainForm : public QMainWindow, private SessionWindow
{
    Q_OBJECT

public:
    using Options = MainFormOptions;

    explicit TMainForm(Options options = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The About window that start-up creates after this one.
    TAboutForm* AboutForm = nullptr;

    // Runs `handler`, routing an error it does not catch to the error box.
    void RunGuarded(const std::function<void()>& handler);
    // The application's error box for an error no handler caught.
    void HandleException(const std::exception& error);

    // -- non-visual members
    TClientSocket* ClientSocket1;
    QTimer* AnnounceTimer;
    QMenuBar* MainMenu1;
    QMenu* Files1;
    QAction* Exit1;
    QMenu* Help1;
    QAction* About1;

    // -- top level (children of ClientArea, the 791 x 536 client area)
    QWidget* ClientArea;
    QGroupBox* LoginGroupBox;
    QLabel* Label1;
    QLineEdit* IPEdit;
    QLabel* Label2;
    QLineEdit* PortEdit;
    QLabel* Label3;
    QLineEdit* PasswordEdit;
    QPushButton* ConnectButton;
    QPushButton* DisconnecyButton;
    QGroupBox* LogGroupBox;
    QPlainTextEdit* LogMemo;
    QTabWidget* PageControl;
    QStatusBar* StatusBar;
    QLabel* StatusPanel0;

    // -- "Player List"
    QWidget* PlayerTabSheet;
    QGroupBox* PlayersGroupBox;
    TListBox* PlayersListBox;
    QPushButton* RefreshPlayersButton;
    QPushButton* KickButton;
    QPushButton* TempBanButton;
    QPushButton* BanButton;

    // -- "Ban List"
    QWidget* BansTabSheet;
    QGroupBox* BansGroupBox;
    TListBox* BansListBox;
    QPushButton* RefeshBansButton;
    QPushButton* AddHashBanButton;
    QPushButton* RemoveBanButton;
    QPushButton* ClearBanListButton;

    // -- "Map Rotation"
    QWidget* MapsTabSheet;
    QGroupBox* MapsGroupBox;
    QLabel* Label4;
    TListBox* LocalMapsListBox;
    QPushButton* Button2;
    QPushButton* Button3;
    QLabel* Label5;
    TListBox* MapsListBox;
    QPushButton* RefreshMapsButton;
    QPushButton* SaveMapsButton;
    QPushButton* RunNextMapButton;
    QPushButton* RestartMapButton;
    QPushButton* PauseButton;
    QPushButton* GetMapButton;

    // -- "Server Announcements"
    QWidget* ServerTabSheet;
    QGroupBox* AutoAnnounceGroupBox;
    QCheckBox* AutoAnnounceCheckBox;
    QLabel* DelayLabel;
    TSpinEdit* DelaySpinEdit;
    TStringGrid* AnnounceStringGrid;
    QPushButton* SaveButton;
    QPushButton* AddLineButton;
    QPushButton* RemoveLineButton;
    QGroupBox* AnnounceGroupBox;
    QLabel* Label7;
    QLineEdit* UsernameEdit;
    QCheckBox* USMCCheckBox;
    QCheckBox* MECCheckBox;
    QLabel* Label8;
    QLineEdit* MessageEdit;
    QPushButton* Button1;

    // -- "Other"
    QWidget* OtherTabSheet;
    QGroupBox* RemoteConsoleGroupBox;
    QLineEdit* CommandEdit;
    QPushButton* CommandButton;
    QGroupBox* RecorderGroupBox;
    QLabel* Label6;
    QLineEdit* DemoNameEdit;
    QPushButton* RecordButton;
    QPushButton* StopButton;

    // -- the session (main_form_session.cpp)
    void SendCommand(const QByteArray& command);
    void ConnectButtonClick();
    void DisconnecyButtonClick();
    void ClientSocket1Connecting(TClientSocket& sender, TClientWinSocket& socket);
    void ClientSocket1Disconnect(TClientSocket& sender, TClientWinSocket& socket);
    void ClientSocket1Error(TClientSocket& sender, TClientWinSocket& socket, TErrorEvent errorEvent, int& errorCode);
    void ClientSocket1Read(TClientSocket& sender, TClientWinSocket& socket);
    ConsoleState& SessionState();

    // -- the shell (main_form.cpp)
    void FormCreate();
    void FormClose();
    void PageControlChange();
    void MapsGroupBoxEnter();
    void Exit1Click();
    void About1Click();
    void GetMapButtonClick();

    // -- "Player List" (main_form_players.cpp)
    void RefreshPlayerList();
    void RefreshPlayersButtonClick();
    void KickButtonClick();
    void TempBanButtonClick();
    void BanButtonClick();

    // -- "Ban List" (main_form_bans.cpp)
    void RefreshBanList();
    void RefeshBansButtonClick();
    void AddHashBanButtonClick();
    void RemoveBanButtonClick();
    void ClearBanListButtonClick();

    // -- "Map Rotation" (main_form_maps.cpp)
    void RefreshMapList();
    void RefreshMapsButtonClick();
    void Button2Click();
    void Button3Click();
    void SaveMapsButtonClick();
    void RunNextMapButtonClick();
    void RestartMapButtonClick();
    void PauseButtonClick();

    // -- "Server Announcements" (main_form_announce.cpp)
    void Button1Click();
    void AnnounceTimerTimer();
    void DelaySpinEditChange();
    void AddLineButtonClick();
    void RemoveLineButtonClick();

    // -- "Other" (main_form_console.cpp)
    void CommandButtonClick();
    void RecordButtonClick();
    void StopButtonClick();

    // -- local files (main_form_files.cpp)
    void SaveButtonClick();
    void SaveStringGrid(const TStringGrid& grid, const QString& fileName);
    void LoadStringGrid(TStringGrid& grid, const QString& fileName);

    // Appends one line to the log and shows it.
    void Log(const QByteArray& line) override;
    // Sends the action's command, then logs its sentence.
    void Perform(const AdminAction& action);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void BindEvents();
    void ApplyTabOrder();

    void LoadSettings();
    void SaveSettings();
    void LoadMapList();
    void CloseMapFile();

    // SessionWindow
    void SetStatus(const QByteArray& text) override;
    QByteArray PasswordText() const override;
    void ClearList(ListKind list) override;
    void AppendToList(ListKind list, const QList<QByteArray>& entries) override;
    TListBox* ListBoxFor(ListKind list) const;

    Options options_;
    std::unique_ptr<ConsoleSession> session_;
    TextFileReader localMapFile_;
};
