#pragma once

#include <QDialog>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class Memo;
class RadioGroup;

// The settings dialog. Its controls are the live configuration: the rest of the program reads
// them directly, so OK and Cancel both just close it and leave every edit in force.
// Each control's objectName equals its member name.
class TToolSettingDlg : public QDialog {
    Q_OBJECT

public:
    explicit TToolSettingDlg(QWidget* parent = nullptr);

    QFrame* Panel1;
    QTabWidget* PageCtrl1;

    QWidget* TabZARVIK;
    QLabel* Label1;
    QLineEdit* EdtPicAddr;
    QLabel* Label2;
    QLineEdit* EdtPicPort;
    QLabel* Label9;
    QLineEdit* EdtRdCycle;
    QLabel* Label10;

    QWidget* TabTemp;
    QCheckBox* ChkBoxUTemp;
    QLineEdit* EditUTemp;
    QLabel* Label7;
    Memo* MemoUTemp;
    QCheckBox* ChkBoxLTemp;
    QLineEdit* EditLTemp;
    QLabel* Label8;
    Memo* MemoLTemp;

    QWidget* TabSensor;
    RadioGroup* RGrpRB1;
    Memo* MemoChgRB1;
    RadioGroup* RGrpRB0;
    Memo* MemoChgRB0;

    QWidget* TabMAIL;
    QLabel* Label3;
    QLineEdit* EdtMailSrv;
    QLabel* Label4;
    QLineEdit* EdtMailId;
    QLabel* Label5;
    QLineEdit* EdtMailFrom;
    QLabel* Label6;
    QLineEdit* EdtMailTo;
    RadioGroup* RGrpPrty;

    QFrame* Panel2;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;
    // Says why the last input to a stored edit was refused.
    QLabel* LabelRefused;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildZarvikTab();
    void buildTempTab();
    void buildSensorTab();
    void buildMailTab();
    void buildButtons();
    void guardStoredTexts();
};
