// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The identifiers of the windows, their controls and the menu commands, named once. A control's
// objectName is its identifier in decimal ("1126"): accessibility tools, the tests and the
// benchmarks find controls by it. The numbers are those of the older Windows program's
// templates, so a control keeps its number across both; static labels share some numbers between
// forms, as they did there.

namespace velkorant {

// Menu commands.
inline constexpr int kCommandExit = 1500;
inline constexpr int kCommandCheckServer = 1501;
inline constexpr int kCommandPreferences = 1502;
inline constexpr int kCommandProfiles = 1503;
inline constexpr int kCommandEncryptionInfo = 1504;
inline constexpr int kCommandLegalNotice = 1505;
inline constexpr int kCommandReceive = 1506;
inline constexpr int kCommandCompose = 1507;
inline constexpr int kCommandImportWindows = 1511;
inline constexpr int kCommandExportWindows = 1512;
inline constexpr int kCommandBackup = 1513;
inline constexpr int kCommandRestore = 1514;
inline constexpr int kCommandAbout = 57664;

// The main form: the top row of buttons.
inline constexpr int kIdReceive = 1126;
inline constexpr int kIdCompose = 1164;
inline constexpr int kIdProfiles = 1001;
inline constexpr int kIdExit = 1011;
// The message list, its buttons and the status envelope's four pictures (one shown at a time).
inline constexpr int kIdListGroup = 1018;
inline constexpr int kIdMessageList = 1013;
inline constexpr int kIdReply = 1160;
inline constexpr int kIdNewToSender = 1161;
inline constexpr int kIdForward = 1162;
inline constexpr int kIdEdit = 1163;
inline constexpr int kIdDelete = 1165;
inline constexpr int kIdEnvelopeIdle = 1168;
inline constexpr int kIdEnvelopeError = 1169;
inline constexpr int kIdEnvelopeNoNews = 1170;
inline constexpr int kIdEnvelopeNews = 1171;
// The banner and the reading pane.
inline constexpr int kIdBanner = 1167;
inline constexpr int kIdMessageGroup = 1019;
inline constexpr int kIdReadingPane = 1125;
// The filters.
inline constexpr int kIdShowSent = 1021;
inline constexpr int kIdShowReceived = 1020;
inline constexpr int kIdUserFilter = 1015;
inline constexpr int kIdUserFilterOn = 1016;
inline constexpr int kIdSearch = 1022;
inline constexpr int kIdSearchButton = 1023;
inline constexpr int kIdClearSearch = 1024;
// The terminal.
inline constexpr int kIdTerminal = 1000;
inline constexpr int kIdClearTerminal = 1166;
// The status bar: the button that cancels the server flow under way, beside its progress; the
// pane that tells how the last one ended.
inline constexpr int kIdCancelFlow = 1510;
inline constexpr int kIdOutcomePane = 61448;

// The password profiles dialog.
inline constexpr int kProfilesDialogId = 130;
inline constexpr int kIdProfileNameLabel = 1008;
inline constexpr int kIdProfileName = 1007;
inline constexpr int kIdProfilePasswordLabel = 1004;
inline constexpr int kIdProfilePassword = 1005;
inline constexpr int kIdProfileShowPassword = 1130;
inline constexpr int kIdProfileCommentsLabel = 1006;
inline constexpr int kIdProfileComment1 = 1009;
inline constexpr int kIdProfileComment2 = 1003;
inline constexpr int kIdProfileComment3 = 1017;
inline constexpr int kIdProfileComment4 = 1011;
inline constexpr int kIdProfileDelete = 1131;

// The preferences dialog.
inline constexpr int kPreferencesDialogId = 131;
inline constexpr int kIdUserNameLabel = 1004;
inline constexpr int kIdUserName = 1140;
inline constexpr int kIdUserCommentLabel = 1006;
inline constexpr int kIdUserComment = 1141;
inline constexpr int kIdServerName = 1142;
inline constexpr int kIdServerHelp = 1143;
inline constexpr int kIdServerDescription = 1144;
inline constexpr int kIdDeleteUser = 1145;
inline constexpr int kIdReceiveAtStartup = 1146;
inline constexpr int kIdReceiveEvery30Minutes = 1147;
inline constexpr int kIdPlaySounds = 1148;

// The compose dialog. Its "Guardar" button ends it with its own identifier as the result.
inline constexpr int kComposeDialogId = 132;
inline constexpr int kIdReplyMark = 1400;
inline constexpr int kIdReceiverLabel = 1006;
inline constexpr int kIdReceiver = 1401;
inline constexpr int kIdSubject = 1402;
inline constexpr int kIdBody = 1403;
inline constexpr int kIdComposeProfileLabel = 1008;
inline constexpr int kIdComposeProfile = 1404;
inline constexpr int kIdComposePasswordLabel = 1004;
inline constexpr int kIdComposePassword = 1405;
inline constexpr int kIdComposeShowPassword = 1406;
inline constexpr int kIdComposeHelp = 1407;
inline constexpr int kComposeSaveOnly = 1408;
// The body's length against its limit; no control of the template.
inline constexpr int kIdBodyLength = 1409;

// The passphrase of a backup's passwords: typed twice for a backup, once (or left empty) for a
// restore.
inline constexpr int kPassphraseDialogId = 133;
inline constexpr int kIdPassphraseNote = 1515;
inline constexpr int kIdPassphraseLabel = 1516;
inline constexpr int kIdPassphrase = 1517;
inline constexpr int kIdPassphraseRepeatLabel = 1518;
inline constexpr int kIdPassphraseRepeat = 1519;

// The legal notice's links.
inline constexpr int kIdCryptoppLink = 1508;
inline constexpr int kIdQtLink = 1509;

}  // namespace velkorant
