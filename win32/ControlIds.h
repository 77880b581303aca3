#pragma once

// Written by tools/rc-from-ui from the Qt forms; change the forms, not this file.
// clang-format off
// The dialogs' resource names, then each control's number after its object name.

#define IDD_MAIN 100
#define IDD_UART 101
#define IDD_DLCFG 102
#define IDD_TUNE 103
#define IDD_FLASH 104
#define IDD_RECORD 105

// qt/Main.ui
#define IDC_pnl_cmd 1000
#define IDC_text_Label 1001
#define IDC_btn_SendCmd 1002
#define IDC_btn_UpdateCode 1003
#define IDC_btn_CmdVerifyBootCode 1004
#define IDC_btn_CmdVerifyApp 1005
#define IDC_btn_CmdTuneTest 1006
#define IDC_btn_CmdRebootSTB 1007
#define IDC_btn_CmdLoadVer 1008
#define IDC_btn_CmdRunApp 1009
#define IDC_Memo_Msg 1010
#define IDC_text_Cmd 1011
#define IDC_btn_CmdEraseFlash 1012
#define IDC_Btn_DL_Cfg 1013
#define IDC_tbtn_UartConnect 1014
#define IDC_tbtn_UartDisconnect 1015
#define IDC_tbtn_Setting 1016
#define IDC_tbtn_Service 1017
#define IDC_tbtn_Help 1018
#define IDC_tbtn_Record 1019
#define IDC_lab_Label 1020
// qt/Uart_init.ui
#define IDC_lab_port 1100
#define IDC_Combo_port 1101
#define IDC_lab_BaudRate 1102
#define IDC_Combo_BaudRate 1103
#define IDC_lab_DataBit 1104
#define IDC_Combo_DataBit 1105
#define IDC_lab_Parity 1106
#define IDC_Combo_Parity 1107
#define IDC_lab_StopBit 1108
#define IDC_Combo_StopBit 1109
#define IDC_lab_FlowCtrl 1110
#define IDC_Combo_FlowCtrl 1111
#define IDC_btn_UartSetting_Cancel 1112
#define IDC_btn_UartSetting_OK 1113
// qt/Dl_cfg.ui
#define IDC_RadGrp_Select 1200
#define IDC_grpbox_sat 1201
#define IDC_grpbox_Cable 1202
#define IDC_grpbox_Ter 1203
#define IDC_lab_StructVer 1204
#define IDC_text_StructVer 1205
#define IDC_lab_StructSize 1206
#define IDC_text_StructSize 1207
#define IDC_lab_BootFlag 1208
#define IDC_text_BootFlag 1209
#define IDC_lab_Timeout 1210
#define IDC_text_Timeout 1211
#define IDC_lab_DLType 1212
#define IDC_text_DLType 1213
#define IDC_lab_ForceTune 1214
#define IDC_text_ForceTune 1215
#define IDC_lab_DLPid 1216
#define IDC_text_DLPid 1217
#define IDC_lab_OUI 1218
#define IDC_text_OUI 1219
#define IDC_lab_HardwareModel 1220
#define IDC_text_HardwareModel 1221
#define IDC_lab_HardwareVersion 1222
#define IDC_text_HardwareVersion 1223
#define IDC_lab_ModChangeNO 1224
#define IDC_text_ModChangeNO 1225
#define IDC_lab_Reserved 1226
#define IDC_text_Reserved 1227
#define IDC_lab_SignatureType 1228
#define IDC_text_SignatureType 1229
#define IDC_lab_DeliveryType 1230
#define IDC_text_DeliveryType 1231
#define IDC_lab_Reserved02 1232
#define IDC_text_Reserved02 1233
#define IDC_lab_Crc 1234
#define IDC_text_Crc 1235
#define IDC_lab_NS0 1236
#define IDC_lab_NS0_MID 1237
#define IDC_text_NS0_MID 1238
#define IDC_lab_NS0_SwMajor 1239
#define IDC_text_NS0_SwMajor 1240
#define IDC_lab_NS0_SwMinor 1241
#define IDC_text_NS0_SwMinor 1242
#define IDC_lab_NS1 1243
#define IDC_lab_NS1_MID 1244
#define IDC_text_NS1_MID 1245
#define IDC_lab_NS1_SwMajor 1246
#define IDC_text_NS1_SwMajor 1247
#define IDC_lab_NS1_SwMinor 1248
#define IDC_text_NS1_SwMinor 1249
#define IDC_lab_NS2 1250
#define IDC_lab_NS2_MID 1251
#define IDC_text_NS2_MID 1252
#define IDC_lab_NS2_SwMajor 1253
#define IDC_text_NS2_SwMajor 1254
#define IDC_lab_NS2_SwMinor 1255
#define IDC_text_NS2_SwMinor 1256
#define IDC_lab_NS3 1257
#define IDC_lab_NS3_MID 1258
#define IDC_text_NS3_MID 1259
#define IDC_lab_NS3_SwMajor 1260
#define IDC_text_NS3_SwMajor 1261
#define IDC_lab_NS3_SwMinor 1262
#define IDC_text_NS3_SwMinor 1263
#define IDC_lab_MI0 1264
#define IDC_lab_MI0_MID 1265
#define IDC_text_MI0_MID 1266
#define IDC_lab_MI0_SwMajor 1267
#define IDC_text_MI0_SwMajor 1268
#define IDC_lab_MI0_SwMinor 1269
#define IDC_text_MI0_SwMinor 1270
#define IDC_lab_MI1 1271
#define IDC_lab_MI1_MID 1272
#define IDC_text_MI1_MID 1273
#define IDC_lab_MI1_SwMajor 1274
#define IDC_text_MI1_SwMajor 1275
#define IDC_lab_MI1_SwMinor 1276
#define IDC_text_MI1_SwMinor 1277
#define IDC_lab_MI2 1278
#define IDC_lab_MI2_MID 1279
#define IDC_text_MI2_MID 1280
#define IDC_lab_MI2_SwMajor 1281
#define IDC_text_MI2_SwMajor 1282
#define IDC_lab_MI2_SwMinor 1283
#define IDC_text_MI2_SwMinor 1284
#define IDC_lab_MI3 1285
#define IDC_lab_MI3_MID 1286
#define IDC_text_MI3_MID 1287
#define IDC_lab_MI3_SwMajor 1288
#define IDC_text_MI3_SwMajor 1289
#define IDC_lab_MI3_SwMinor 1290
#define IDC_text_MI3_SwMinor 1291
#define IDC_rbtn_Satellite 1292
#define IDC_rbtn_Cable 1293
#define IDC_rbtn_Terrestrial 1294
#define IDC_lab_Sat_Freq 1295
#define IDC_text_Sat_Freq 1296
#define IDC_lab_Sat_Symbol 1297
#define IDC_text_Sat_Symbol 1298
#define IDC_lab_Sat_ParamFlag 1299
#define IDC_text_Sat_ParamFlag 1300
#define IDC_lab_Sat_CmdLen 1301
#define IDC_text_Sat_CmdLen 1302
#define IDC_lab_Sat_Cmd 1303
#define IDC_text_Sat_Cmd 1304
#define IDC_lab_Sat_Reserved 1305
#define IDC_text_Sat_Reserved 1306
#define IDC_lab_Cab_Freq 1307
#define IDC_text_Cab_Freq 1308
#define IDC_lab_Cab_Symbol 1309
#define IDC_text_Cab_Symbol 1310
#define IDC_lab_Cab_ModType 1311
#define IDC_text_Cab_ModType 1312
#define IDC_lab_Cab_Reserved 1313
#define IDC_text_Cab_Reserved 1314
#define IDC_lab_Ter_Freq 1315
#define IDC_text_Ter_Freq 1316
#define IDC_lab_Ter_Priority 1317
#define IDC_text_Ter_Priority 1318
#define IDC_lab_Ter_BandWidth 1319
#define IDC_text_Ter_BandWidth 1320
#define IDC_lab_TunerPower 1321
#define IDC_text_TunerPower 1322
#define IDC_lab_Ter_Reserved 1323
#define IDC_text_Ter_Reserved 1324
#define IDC_Lab_DL_Cfg_Status 1325
#define IDC_btn_GetDLCfg 1326
#define IDC_btn_SetDLCfg 1327
#define IDC_btn_SetDefaultDLCfg 1328
// qt/Frm_tunetest.ui
#define IDC_Edt_Frequency 1400
#define IDC_Edt_Bandwidth 1401
#define IDC_Btn_OK 1402
#define IDC_Tune_Label1 1403
#define IDC_Tune_Label2 1404
// qt/Flash.ui
#define IDC_Edt_StartAddr 1500
#define IDC_Edt_Offset 1501
#define IDC_Btn_EraseFlashOK 1502
#define IDC_Btn_ReadFlash 1503
#define IDC_Flash_Label1 1504
#define IDC_Flash_Label2 1505
#define IDC_Label3 1506
#define IDC_Label4 1507
// qt/RecordView.ui
#define IDC_chk_FailedOnly 1600
#define IDC_text_FilterPort 1601
#define IDC_text_FilterLabel 1602
#define IDC_text_Since 1603
#define IDC_btn_CopyRows 1604
#define IDC_btn_SaveCsv 1605
#define IDC_grid_Boxes 1606
#define IDC_Memo_Steps 1607
#define IDC_Memo_Summary 1608
#define IDC_lab_Where 1609
#define IDC_lab_FilterPort 1610
#define IDC_lab_FilterLabel 1611
#define IDC_lab_Since 1612
#define IDC_lab_Steps 1613
#define IDC_lab_Summary 1614

#ifdef __cplusplus
// The controls a group box holds: hiding the box hides them.
struct GroupMember {
  int Group;
  int Control;
};
inline constexpr GroupMember GroupMembers[] = {
    {IDC_RadGrp_Select, IDC_rbtn_Satellite},
    {IDC_RadGrp_Select, IDC_rbtn_Cable},
    {IDC_RadGrp_Select, IDC_rbtn_Terrestrial},
    {IDC_grpbox_sat, IDC_lab_Sat_Freq},
    {IDC_grpbox_sat, IDC_text_Sat_Freq},
    {IDC_grpbox_sat, IDC_lab_Sat_Symbol},
    {IDC_grpbox_sat, IDC_text_Sat_Symbol},
    {IDC_grpbox_sat, IDC_lab_Sat_ParamFlag},
    {IDC_grpbox_sat, IDC_text_Sat_ParamFlag},
    {IDC_grpbox_sat, IDC_lab_Sat_CmdLen},
    {IDC_grpbox_sat, IDC_text_Sat_CmdLen},
    {IDC_grpbox_sat, IDC_lab_Sat_Cmd},
    {IDC_grpbox_sat, IDC_text_Sat_Cmd},
    {IDC_grpbox_sat, IDC_lab_Sat_Reserved},
    {IDC_grpbox_sat, IDC_text_Sat_Reserved},
    {IDC_grpbox_Cable, IDC_lab_Cab_Freq},
    {IDC_grpbox_Cable, IDC_text_Cab_Freq},
    {IDC_grpbox_Cable, IDC_lab_Cab_Symbol},
    {IDC_grpbox_Cable, IDC_text_Cab_Symbol},
    {IDC_grpbox_Cable, IDC_lab_Cab_ModType},
    {IDC_grpbox_Cable, IDC_text_Cab_ModType},
    {IDC_grpbox_Cable, IDC_lab_Cab_Reserved},
    {IDC_grpbox_Cable, IDC_text_Cab_Reserved},
    {IDC_grpbox_Ter, IDC_lab_Ter_Freq},
    {IDC_grpbox_Ter, IDC_text_Ter_Freq},
    {IDC_grpbox_Ter, IDC_lab_Ter_Priority},
    {IDC_grpbox_Ter, IDC_text_Ter_Priority},
    {IDC_grpbox_Ter, IDC_lab_Ter_BandWidth},
    {IDC_grpbox_Ter, IDC_text_Ter_BandWidth},
    {IDC_grpbox_Ter, IDC_lab_TunerPower},
    {IDC_grpbox_Ter, IDC_text_TunerPower},
    {IDC_grpbox_Ter, IDC_lab_Ter_Reserved},
    {IDC_grpbox_Ter, IDC_text_Ter_Reserved},
};

// Every control by its object name, for the lists that name them (the record's fields).
struct NamedControl {
  const char* Name;
  int Id;
};
inline constexpr NamedControl NamedControls[] = {
    {"pnl_cmd", IDC_pnl_cmd},
    {"text_Label", IDC_text_Label},
    {"btn_SendCmd", IDC_btn_SendCmd},
    {"btn_UpdateCode", IDC_btn_UpdateCode},
    {"btn_CmdVerifyBootCode", IDC_btn_CmdVerifyBootCode},
    {"btn_CmdVerifyApp", IDC_btn_CmdVerifyApp},
    {"btn_CmdTuneTest", IDC_btn_CmdTuneTest},
    {"btn_CmdRebootSTB", IDC_btn_CmdRebootSTB},
    {"btn_CmdLoadVer", IDC_btn_CmdLoadVer},
    {"btn_CmdRunApp", IDC_btn_CmdRunApp},
    {"Memo_Msg", IDC_Memo_Msg},
    {"text_Cmd", IDC_text_Cmd},
    {"btn_CmdEraseFlash", IDC_btn_CmdEraseFlash},
    {"Btn_DL_Cfg", IDC_Btn_DL_Cfg},
    {"tbtn_UartConnect", IDC_tbtn_UartConnect},
    {"tbtn_UartDisconnect", IDC_tbtn_UartDisconnect},
    {"tbtn_Setting", IDC_tbtn_Setting},
    {"tbtn_Service", IDC_tbtn_Service},
    {"tbtn_Help", IDC_tbtn_Help},
    {"tbtn_Record", IDC_tbtn_Record},
    {"lab_Label", IDC_lab_Label},
    {"lab_port", IDC_lab_port},
    {"Combo_port", IDC_Combo_port},
    {"lab_BaudRate", IDC_lab_BaudRate},
    {"Combo_BaudRate", IDC_Combo_BaudRate},
    {"lab_DataBit", IDC_lab_DataBit},
    {"Combo_DataBit", IDC_Combo_DataBit},
    {"lab_Parity", IDC_lab_Parity},
    {"Combo_Parity", IDC_Combo_Parity},
    {"lab_StopBit", IDC_lab_StopBit},
    {"Combo_StopBit", IDC_Combo_StopBit},
    {"lab_FlowCtrl", IDC_lab_FlowCtrl},
    {"Combo_FlowCtrl", IDC_Combo_FlowCtrl},
    {"btn_UartSetting_Cancel", IDC_btn_UartSetting_Cancel},
    {"btn_UartSetting_OK", IDC_btn_UartSetting_OK},
    {"RadGrp_Select", IDC_RadGrp_Select},
    {"grpbox_sat", IDC_grpbox_sat},
    {"grpbox_Cable", IDC_grpbox_Cable},
    {"grpbox_Ter", IDC_grpbox_Ter},
    {"lab_StructVer", IDC_lab_StructVer},
    {"text_StructVer", IDC_text_StructVer},
    {"lab_StructSize", IDC_lab_StructSize},
    {"text_StructSize", IDC_text_StructSize},
    {"lab_BootFlag", IDC_lab_BootFlag},
    {"text_BootFlag", IDC_text_BootFlag},
    {"lab_Timeout", IDC_lab_Timeout},
    {"text_Timeout", IDC_text_Timeout},
    {"lab_DLType", IDC_lab_DLType},
    {"text_DLType", IDC_text_DLType},
    {"lab_ForceTune", IDC_lab_ForceTune},
    {"text_ForceTune", IDC_text_ForceTune},
    {"lab_DLPid", IDC_lab_DLPid},
    {"text_DLPid", IDC_text_DLPid},
    {"lab_OUI", IDC_lab_OUI},
    {"text_OUI", IDC_text_OUI},
    {"lab_HardwareModel", IDC_lab_HardwareModel},
    {"text_HardwareModel", IDC_text_HardwareModel},
    {"lab_HardwareVersion", IDC_lab_HardwareVersion},
    {"text_HardwareVersion", IDC_text_HardwareVersion},
    {"lab_ModChangeNO", IDC_lab_ModChangeNO},
    {"text_ModChangeNO", IDC_text_ModChangeNO},
    {"lab_Reserved", IDC_lab_Reserved},
    {"text_Reserved", IDC_text_Reserved},
    {"lab_SignatureType", IDC_lab_SignatureType},
    {"text_SignatureType", IDC_text_SignatureType},
    {"lab_DeliveryType", IDC_lab_DeliveryType},
    {"text_DeliveryType", IDC_text_DeliveryType},
    {"lab_Reserved02", IDC_lab_Reserved02},
    {"text_Reserved02", IDC_text_Reserved02},
    {"lab_Crc", IDC_lab_Crc},
    {"text_Crc", IDC_text_Crc},
    {"lab_NS0", IDC_lab_NS0},
    {"lab_NS0_MID", IDC_lab_NS0_MID},
    {"text_NS0_MID", IDC_text_NS0_MID},
    {"lab_NS0_SwMajor", IDC_lab_NS0_SwMajor},
    {"text_NS0_SwMajor", IDC_text_NS0_SwMajor},
    {"lab_NS0_SwMinor", IDC_lab_NS0_SwMinor},
    {"text_NS0_SwMinor", IDC_text_NS0_SwMinor},
    {"lab_NS1", IDC_lab_NS1},
    {"lab_NS1_MID", IDC_lab_NS1_MID},
    {"text_NS1_MID", IDC_text_NS1_MID},
    {"lab_NS1_SwMajor", IDC_lab_NS1_SwMajor},
    {"text_NS1_SwMajor", IDC_text_NS1_SwMajor},
    {"lab_NS1_SwMinor", IDC_lab_NS1_SwMinor},
    {"text_NS1_SwMinor", IDC_text_NS1_SwMinor},
    {"lab_NS2", IDC_lab_NS2},
    {"lab_NS2_MID", IDC_lab_NS2_MID},
    {"text_NS2_MID", IDC_text_NS2_MID},
    {"lab_NS2_SwMajor", IDC_lab_NS2_SwMajor},
    {"text_NS2_SwMajor", IDC_text_NS2_SwMajor},
    {"lab_NS2_SwMinor", IDC_lab_NS2_SwMinor},
    {"text_NS2_SwMinor", IDC_text_NS2_SwMinor},
    {"lab_NS3", IDC_lab_NS3},
    {"lab_NS3_MID", IDC_lab_NS3_MID},
    {"text_NS3_MID", IDC_text_NS3_MID},
    {"lab_NS3_SwMajor", IDC_lab_NS3_SwMajor},
    {"text_NS3_SwMajor", IDC_text_NS3_SwMajor},
    {"lab_NS3_SwMinor", IDC_lab_NS3_SwMinor},
    {"text_NS3_SwMinor", IDC_text_NS3_SwMinor},
    {"lab_MI0", IDC_lab_MI0},
    {"lab_MI0_MID", IDC_lab_MI0_MID},
    {"text_MI0_MID", IDC_text_MI0_MID},
    {"lab_MI0_SwMajor", IDC_lab_MI0_SwMajor},
    {"text_MI0_SwMajor", IDC_text_MI0_SwMajor},
    {"lab_MI0_SwMinor", IDC_lab_MI0_SwMinor},
    {"text_MI0_SwMinor", IDC_text_MI0_SwMinor},
    {"lab_MI1", IDC_lab_MI1},
    {"lab_MI1_MID", IDC_lab_MI1_MID},
    {"text_MI1_MID", IDC_text_MI1_MID},
    {"lab_MI1_SwMajor", IDC_lab_MI1_SwMajor},
    {"text_MI1_SwMajor", IDC_text_MI1_SwMajor},
    {"lab_MI1_SwMinor", IDC_lab_MI1_SwMinor},
    {"text_MI1_SwMinor", IDC_text_MI1_SwMinor},
    {"lab_MI2", IDC_lab_MI2},
    {"lab_MI2_MID", IDC_lab_MI2_MID},
    {"text_MI2_MID", IDC_text_MI2_MID},
    {"lab_MI2_SwMajor", IDC_lab_MI2_SwMajor},
    {"text_MI2_SwMajor", IDC_text_MI2_SwMajor},
    {"lab_MI2_SwMinor", IDC_lab_MI2_SwMinor},
    {"text_MI2_SwMinor", IDC_text_MI2_SwMinor},
    {"lab_MI3", IDC_lab_MI3},
    {"lab_MI3_MID", IDC_lab_MI3_MID},
    {"text_MI3_MID", IDC_text_MI3_MID},
    {"lab_MI3_SwMajor", IDC_lab_MI3_SwMajor},
    {"text_MI3_SwMajor", IDC_text_MI3_SwMajor},
    {"lab_MI3_SwMinor", IDC_lab_MI3_SwMinor},
    {"text_MI3_SwMinor", IDC_text_MI3_SwMinor},
    {"rbtn_Satellite", IDC_rbtn_Satellite},
    {"rbtn_Cable", IDC_rbtn_Cable},
    {"rbtn_Terrestrial", IDC_rbtn_Terrestrial},
    {"lab_Sat_Freq", IDC_lab_Sat_Freq},
    {"text_Sat_Freq", IDC_text_Sat_Freq},
    {"lab_Sat_Symbol", IDC_lab_Sat_Symbol},
    {"text_Sat_Symbol", IDC_text_Sat_Symbol},
    {"lab_Sat_ParamFlag", IDC_lab_Sat_ParamFlag},
    {"text_Sat_ParamFlag", IDC_text_Sat_ParamFlag},
    {"lab_Sat_CmdLen", IDC_lab_Sat_CmdLen},
    {"text_Sat_CmdLen", IDC_text_Sat_CmdLen},
    {"lab_Sat_Cmd", IDC_lab_Sat_Cmd},
    {"text_Sat_Cmd", IDC_text_Sat_Cmd},
    {"lab_Sat_Reserved", IDC_lab_Sat_Reserved},
    {"text_Sat_Reserved", IDC_text_Sat_Reserved},
    {"lab_Cab_Freq", IDC_lab_Cab_Freq},
    {"text_Cab_Freq", IDC_text_Cab_Freq},
    {"lab_Cab_Symbol", IDC_lab_Cab_Symbol},
    {"text_Cab_Symbol", IDC_text_Cab_Symbol},
    {"lab_Cab_ModType", IDC_lab_Cab_ModType},
    {"text_Cab_ModType", IDC_text_Cab_ModType},
    {"lab_Cab_Reserved", IDC_lab_Cab_Reserved},
    {"text_Cab_Reserved", IDC_text_Cab_Reserved},
    {"lab_Ter_Freq", IDC_lab_Ter_Freq},
    {"text_Ter_Freq", IDC_text_Ter_Freq},
    {"lab_Ter_Priority", IDC_lab_Ter_Priority},
    {"text_Ter_Priority", IDC_text_Ter_Priority},
    {"lab_Ter_BandWidth", IDC_lab_Ter_BandWidth},
    {"text_Ter_BandWidth", IDC_text_Ter_BandWidth},
    {"lab_TunerPower", IDC_lab_TunerPower},
    {"text_TunerPower", IDC_text_TunerPower},
    {"lab_Ter_Reserved", IDC_lab_Ter_Reserved},
    {"text_Ter_Reserved", IDC_text_Ter_Reserved},
    {"Lab_DL_Cfg_Status", IDC_Lab_DL_Cfg_Status},
    {"btn_GetDLCfg", IDC_btn_GetDLCfg},
    {"btn_SetDLCfg", IDC_btn_SetDLCfg},
    {"btn_SetDefaultDLCfg", IDC_btn_SetDefaultDLCfg},
    {"Edt_Frequency", IDC_Edt_Frequency},
    {"Edt_Bandwidth", IDC_Edt_Bandwidth},
    {"Btn_OK", IDC_Btn_OK},
    {"Label1", IDC_Tune_Label1},
    {"Label2", IDC_Tune_Label2},
    {"Edt_StartAddr", IDC_Edt_StartAddr},
    {"Edt_Offset", IDC_Edt_Offset},
    {"Btn_EraseFlashOK", IDC_Btn_EraseFlashOK},
    {"Btn_ReadFlash", IDC_Btn_ReadFlash},
    {"Label1", IDC_Flash_Label1},
    {"Label2", IDC_Flash_Label2},
    {"Label3", IDC_Label3},
    {"Label4", IDC_Label4},
    {"chk_FailedOnly", IDC_chk_FailedOnly},
    {"text_FilterPort", IDC_text_FilterPort},
    {"text_FilterLabel", IDC_text_FilterLabel},
    {"text_Since", IDC_text_Since},
    {"btn_CopyRows", IDC_btn_CopyRows},
    {"btn_SaveCsv", IDC_btn_SaveCsv},
    {"grid_Boxes", IDC_grid_Boxes},
    {"Memo_Steps", IDC_Memo_Steps},
    {"Memo_Summary", IDC_Memo_Summary},
    {"lab_Where", IDC_lab_Where},
    {"lab_FilterPort", IDC_lab_FilterPort},
    {"lab_FilterLabel", IDC_lab_FilterLabel},
    {"lab_Since", IDC_lab_Since},
    {"lab_Steps", IDC_lab_Steps},
    {"lab_Summary", IDC_lab_Summary},
};
#endif
