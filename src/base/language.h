#pragma once
// Captions from the language files, each with the English default the program
// carries, so that it runs in English with no language file at all.
#include <array>
#include <span>
#include <string>
#include <string_view>

#include "base/app_config.h"

namespace velmora {

// One caption: where it is looked up and what stands when the lookup is empty.
struct TextKey {
    const char* section;
    const char* key;
    const char* english;
};

// The value of `key` in `section` of Lan_En.ini (EnglishFlag exactly 1) or
// Lan.ini (any other flag) in the run's ParFolder(), or "". The file is read on
// the first lookup and kept for the lookups after it, until one needs another file
// (a switch of language, another folder): that one is then read, once.
std::string LookupText(const AppConfig& config, std::string_view section, std::string_view key);
std::string LookupText(std::string_view section, std::string_view key);

// Drops the kept caption file, for a program that changed it (the INI fuzzer).
void ReloadCaptions();

// The looked-up caption, or its English default when the lookup is empty.
std::string Text(const TextKey& key);

// The caption for a count, %1 replaced by it: `one` for 1 ("1 record placed"),
// `many` for any other ("3 records placed").
std::string CountText(std::size_t count, const TextKey& one, const TextKey& many);

// Every key the program looks up, for the language files and their tests.
std::span<const TextKey> AllTextKeys();

namespace keys {
// Section "DlgPara": main window and process-wide values.
inline constexpr TextKey DlgName{"DlgPara", "DlgName", "fiber fusion splicer"};
inline constexpr TextKey DlgStatOpen{"DlgPara", "DlgStat_Open", "Connected"};
inline constexpr TextKey DlgStatClose{"DlgPara", "DlgStat_Close", "Disonnected"};
inline constexpr TextKey CommStatFail{"DlgPara", "CommStat_Fail", "Comm Fail"};
inline constexpr TextKey CommStatSucess{"DlgPara", "CommStat_Sucess", "Comm Sucess"};
inline constexpr TextKey DlgColorRed{"DlgPara", "DlgColor_Red", "173"};
inline constexpr TextKey DlgColorGreen{"DlgPara", "DlgColor_Green", "216"};
inline constexpr TextKey DlgColorBlue{"DlgPara", "DlgColor_Blue", "230"};

// The four tab captions, TAB0 to TAB3.
inline constexpr std::array<TextKey, 4> TabNames{{
    {"TAB0", "Table_Name", "Setting"},
    {"TAB1", "Table_Name", "Result"},
    {"TAB2", "Table_Name", "Image"},
    {"TAB3", "Table_Name", "FirmWare"},
}};

// Section "TAB0": the Setting page.
inline constexpr std::array<TextKey, 5> GroupNames{{
    {"TAB0", "Combo_Para0", "Splice"},
    {"TAB0", "Combo_Para1", "Heating"},
    {"TAB0", "Combo_Para2", "Enviornment"},
    {"TAB0", "Combo_Para3", "FsConfig"},
    {"TAB0", "Combo_Para4", "System Configure"},
}};
inline constexpr std::array<TextKey, 20> SpliceRows{{
    {"TAB0", "List0_Para0", "Fiber Type"},    {"TAB0", "List0_Para1", "Name1"},
    {"TAB0", "List0_Para2", "Name2"},         {"TAB0", "List0_Para3", "Cut Angle"},
    {"TAB0", "List0_Para4", "Loss Limit"},    {"TAB0", "List0_Para5", "ARC Value"},
    {"TAB0", "List0_Para6", "ARC Time"},      {"TAB0", "List0_Para7", "Clear Arc Time"},
    {"TAB0", "List0_Para8", "Add  Arc Time"}, {"TAB0", "List0_Para9", "AlineType"},
    {"TAB0", "List0_Para10", "AlineSpace"},   {"TAB0", "List0_Para11", "ArcLine"},
    {"TAB0", "List0_Para12", "Pre Arc"},      {"TAB0", "List0_Para13", "Pre Time"},
    {"TAB0", "List0_Para14", "OverLen"},      {"TAB0", "List0_Para15", "Arc2Power"},
    {"TAB0", "List0_Para16", "Arc2Time"},     {"TAB0", "List0_Para17", "Arc2On"},
    {"TAB0", "List0_Para18", "Arc2Off"},      {"TAB0", "List0_Para19", "PullingTest"},
}};
inline constexpr std::array<TextKey, 6> HeaterRows{{
    {"TAB0", "List1_Para0", "Heat Type"},
    {"TAB0", "List1_Para1", "Name1"},
    {"TAB0", "List1_Para2", "Name2"},
    {"TAB0", "List1_Para3", "Time"},
    {"TAB0", "List1_Para4", "Temperature"},
    {"TAB0", "List1_Para5", "End Temperature"},
}};
inline constexpr std::array<TextKey, 4> EnvironmentRows{{
    {"TAB0", "List2_Para0", "Time"},
    {"TAB0", "List2_Para1", "Inside Temperature"},
    {"TAB0", "List2_Para2", "Air Pressure"},
    {"TAB0", "List2_Para3", "Voltage"},
}};
inline constexpr std::array<TextKey, 12> FsConfigRows{{
    {"TAB0", "List3_Para0", "FsMode"},
    {"TAB0", "List3_Para1", "HtMode"},
    {"TAB0", "List3_Para2", "autostart"},
    {"TAB0", "List3_Para3", "pause1_en"},
    {"TAB0", "List3_Para4", "pause2_en"},
    {"TAB0", "List3_Para5", "angle"},
    {"TAB0", "List3_Para6", "loss"},
    {"TAB0", "List3_Para7", "bubble"},
    {"TAB0", "List3_Para8", "wide"},
    {"TAB0", "List3_Para9", "thin"},
    {"TAB0", "List3_Para10", "autopush"},
    {"TAB0", "List3_Para11", "add_arcs"},
}};
inline constexpr std::array<TextKey, 10> SystemRows{{
    {"TAB0", "List4_Para0", "Serial Num"},
    {"TAB0", "List4_Para1", "Language"},
    {"TAB0", "List4_Para2", "LcdDir"},
    {"TAB0", "List4_Para3", "LcdBright"},
    {"TAB0", "List4_Para4", "Beep"},
    {"TAB0", "List4_Para5", "Lamp"},
    {"TAB0", "List4_Para6", "Fan"},
    {"TAB0", "List4_Para7", "BaudRate"},
    {"TAB0", "List4_Para8", "SysTime"},
    {"TAB0", "List4_Para9", "LcdTime"},
}};
inline constexpr TextKey ParaCol0{"TAB0", "Para_Col0", "Parameters"};
inline constexpr TextKey ParaCol1{"TAB0", "Para_Col1", "Content"};
inline constexpr TextKey BtnConnect{"TAB0", "Btn_Connect", "Connect"};
inline constexpr TextKey BtnDisconnect{"TAB0", "Btn_Disconnect", "Disconnect"};
inline constexpr TextKey BtnRestore{"TAB0", "Btn_Restore", "Read"};
inline constexpr TextKey BtnAccept{"TAB0", "Btn_Accept", "Accept"};
inline constexpr TextKey BtnRefresh{"TAB0", "Btn_Refresh", "Refresh"};

// Section "TAB1": the history page.
inline constexpr TextKey HistoryCountCol0{"TAB1", "List_Count_Col0", "Index"};
inline constexpr TextKey HistoryCountCol1{"TAB1", "List_Count_Col1", "Time"};
inline constexpr TextKey HistoryParaCol0{"TAB1", "List_Para_Col0", "Parameters"};
inline constexpr TextKey HistoryParaCol1{"TAB1", "List_Para_Col1", "Content "};
// Detail rows in the order they are shown.
inline constexpr std::array<TextKey, 15> HistoryDetailRows{{
    {"TAB1", "List_Para_Row0", "Time"},
    {"TAB1", "List_Para_Row1", "Result"},
    {"TAB1", "List_Para_Row2", "Loss Value"},
    {"TAB1", "List_Para_Row5", "Splice mode"},
    {"TAB1", "List_Para_Row7", "Aline Type"},
    {"TAB1", "List_Para_Row8", "Aline Space"},
    {"TAB1", "List_Para_Row9", "Arc Line"},
    {"TAB1", "List_Para_Row10", "Prefuse ARC data"},
    {"TAB1", "List_Para_Row11", "Prefuse ARC time"},
    {"TAB1", "List_Para_Row12", "ARC data"},
    {"TAB1", "List_Para_Row13", "ARC time"},
    {"TAB1", "List_Para_Row14", "Over Length"},
    {"TAB1", "List_Para_Row6", "Fiber Type"},
    {"TAB1", "List_Para_Row3", "LF Angle"},
    {"TAB1", "List_Para_Row4", "RF Angle"},
}};
inline constexpr TextKey BtnReceive{"TAB1", "Btn_Receive", "Receive"};
inline constexpr TextKey BtnExcel{"TAB1", "Btn_Excel", "EXCEL"};

// Section "TAB2": the Image page.
inline constexpr TextKey ImageCol0{"TAB2", "List_Para_Col0", "Index"};
inline constexpr TextKey ImageCol1{"TAB2", "List_Para_Col1", "Time"};
inline constexpr TextKey BtnSave{"TAB2", "Btn_Save", "Save"};
inline constexpr TextKey BtnDownLoad{"TAB2", "Btn_Receive", "DownLoad"};

// Section "TAB3": the FirmWare page.
inline constexpr TextKey BtnBrowse{"TAB3", "Btn_Browse", "Browse"};
inline constexpr TextKey BtnSend{"TAB3", "Btn_Send", "Send"};
inline constexpr TextKey TxtInfo1{"TAB3", "Txt_Info1", "Please select File ...."};
inline constexpr TextKey TxtInfo2{"TAB3", "Txt_Info2", "Update? "};
inline constexpr TextKey TxtInfo3{"TAB3", "Txt_Info3",
                                  "File already selected ,please click 'Send'...."};
// Section "Archive": the Archive page and the archiving the other pages do.
namespace archive_tab {
inline constexpr TextKey TabName{"Archive", "Table_Name", "Archive"};
inline constexpr TextKey Splicer{"Archive", "Splicer", "Splicer"};
inline constexpr TextKey AllSplicers{"Archive", "All_Splicers", "All splicers"};
inline constexpr TextKey From{"Archive", "From", "From"};
inline constexpr TextKey To{"Archive", "To", "to"};
inline constexpr TextKey Job{"Archive", "Job", "Job"};
inline constexpr TextKey AllJobs{"Archive", "All_Jobs", "All jobs"};
inline constexpr TextKey NoJob{"Archive", "No_Job", "No job"};
// The Result filter's choices; job_files::OverLimit names the third.
inline constexpr TextKey AllResults{"Archive", "All_Results", "All results"};
inline constexpr TextKey FailedResults{"Archive", "Failed_Results", "Failed on the splicer"};
inline constexpr TextKey PassedResults{"Archive", "Passed_Results", "Passed"};
inline constexpr TextKey Search{"Archive", "Search", "Search job, splicer, closure"};
inline constexpr TextKey SplicesPage{"Archive", "Splices", "Splices"};
inline constexpr TextKey SnapshotsPage{"Archive", "Snapshots", "Settings snapshots"};
inline constexpr TextKey RecordCount{"Archive", "Record_Count", "%1 records"};
inline constexpr TextKey Loading{"Archive", "Loading", "Reading the archive..."};
inline constexpr TextKey JobName{"Archive", "Job_Name", "Job name"};
inline constexpr TextKey BtnNameSelected{"Archive", "Btn_Name_Selected", "Name chosen"};
inline constexpr TextKey BtnNameAll{"Archive", "Btn_Name_All", "Name all shown"};
inline constexpr TextKey BtnRename{"Archive", "Btn_Rename", "Rename job"};
inline constexpr TextKey BtnClearJob{"Archive", "Btn_Clear_Job", "Clear job"};
inline constexpr TextKey BtnUndoNaming{"Archive", "Btn_Undo_Naming", "Undo naming"};
// A splicer whose serial number is not known, by its folder (%1).
inline constexpr TextKey UnknownSerial{"Archive", "Unknown_Serial", "%1 (serial number unknown)"};
inline constexpr TextKey BtnExport{"Archive", "Btn_Export", "Export CSV"};
inline constexpr TextKey NoImage{"Archive", "No_Image", "No image of this splice"};
inline constexpr TextKey ImageGone{"Archive", "Image_Gone", "The image file %1 is no longer there"};
inline constexpr TextKey ImageChanged{"Archive", "Image_Changed",
                                      "The image file %1 is no longer the one archived"};
inline constexpr TextKey ImageFullSize{"Archive", "Image_Full_Size", "Click to see it full size"};
inline constexpr TextKey BtnClose{"Archive", "Btn_Close", "Close"};
inline constexpr TextKey ResultColumn{"Archive", "Result_Column", "Result"};
inline constexpr TextKey LossColumn{"Archive", "Loss_Column", "Loss (dB)"};
inline constexpr TextKey SnapTime{"Archive", "Snap_Time", "Time"};
inline constexpr TextKey SnapReason{"Archive", "Snap_Reason", "Reason"};
inline constexpr TextKey SnapGroups{"Archive", "Snap_Groups", "Groups"};
inline constexpr TextKey ReasonRead{"Archive", "Reason_Read", "Read"};
inline constexpr TextKey ReasonWrite{"Archive", "Reason_Write", "Write"};
inline constexpr TextKey ReasonBackup{"Archive", "Reason_Backup", "Backup"};
inline constexpr TextKey ReasonFirmware{"Archive", "Reason_Firmware", "Before firmware update"};
inline constexpr TextKey CompareWith{"Archive", "Compare_With", "Compare with"};
inline constexpr TextKey ConnectedSplicer{"Archive", "Connected_Splicer", "The connected splicer"};
inline constexpr TextKey BtnCompare{"Archive", "Btn_Compare", "Compare"};
inline constexpr TextKey BtnRestore{"Archive", "Btn_Restore", "Restore"};
inline constexpr TextKey ConfigGroups{"Archive", "Config_Groups", "Configuration"};
inline constexpr TextKey DiffGroup{"Archive", "Diff_Group", "Group"};
inline constexpr TextKey DiffRow{"Archive", "Diff_Row", "Parameters"};
inline constexpr TextKey DiffSnapshot{"Archive", "Diff_Snapshot", "Snapshot"};
inline constexpr TextKey DiffOther{"Archive", "Diff_Other", "Compared with"};
inline constexpr TextKey NoDifference{"Archive", "No_Difference", "No differences"};
// %1: why, naming the file.
inline constexpr TextKey Unavailable{"Archive", "Unavailable", "%1. Velmora goes on without it."};
inline constexpr TextKey ChooseRecords{"Archive", "Choose_Records", "Choose a record first"};
inline constexpr TextKey EnterJob{"Archive", "Enter_Job", "Type the job name first"};
inline constexpr TextKey ChooseJob{"Archive", "Choose_Job",
                                   "Choose the job to rename in the job filter first"};
inline constexpr TextKey Named{"Archive", "Named", "%1 records named %2"};
inline constexpr TextKey Cleared{"Archive", "Cleared", "%1 records have no job now"};
inline constexpr TextKey ReplaceQuestion{
    "Archive", "Replace_Question",
    "Of the %1 records, %2 have another job and %3 none. Give all of them the job %4?"};
inline constexpr TextKey Undone{"Archive", "Undone", "%1 records have their job of before again"};
inline constexpr TextKey NothingToUndo{"Archive", "Nothing_To_Undo", "There is no naming to undo"};
inline constexpr TextKey Failed{"Archive", "Failed", "The archive could not do it: %1"};
inline constexpr TextKey ChooseSnapshot{"Archive", "Choose_Snapshot", "Choose a snapshot first"};
inline constexpr TextKey ChooseGroups{"Archive", "Choose_Groups",
                                      "Tick the groups to restore first"};
inline constexpr TextKey BadSnapshot{"Archive", "Bad_Snapshot", "The snapshot cannot be used: %1"};
inline constexpr TextKey OtherSplicer{
    "Archive", "Other_Splicer",
    "This snapshot is of splicer %1, not of %2. Write its shown values all the same?"};
inline constexpr TextKey RestoreQuestion{"Archive", "Restore_Question",
                                         "These rows will change on the splicer:"};
inline constexpr TextKey RestoreConfirm{"Archive", "Restore_Confirm", "Write them?"};
inline constexpr TextKey NothingToRestore{"Archive", "Nothing_To_Restore",
                                          "The splicer already holds these settings"};
inline constexpr TextKey Written{"Archive", "Written", "%1: written"};
inline constexpr TextKey NotWritten{"Archive", "Not_Written", "%1: not written: %2"};
inline constexpr TextKey RestoreRefused{"Archive", "Restore_Refused",
                                        "Nothing was written; these values are refused:"};
inline constexpr TextKey BackedUp{"Archive", "Backed_Up",
                                  "Settings backed up in the archive before the update"};
inline constexpr TextKey NoBackup{
    "Archive", "No_Backup", "No backup of the settings could be taken: %1. Update without one?"};
inline constexpr TextKey NoArchive{"Archive", "No_Archive", "the archive is not available"};
}  // namespace archive_tab
// Section "Job": the as-built documentation of jobs, in the Job tab and velmora-cli.
namespace job_tab {
// ---- Why the job store refused a change (jobs_texts.cpp). %1: the name or number
// the refusal is about; Empty_Name's %1 is one of the Kind_ words. ----
inline constexpr TextKey KindJob{"Job", "Kind_Job", "job"};
inline constexpr TextKey KindClosure{"Job", "Kind_Closure", "closure"};
inline constexpr TextKey KindCable{"Job", "Kind_Cable", "cable"};
inline constexpr TextKey EmptyName{"Job", "Empty_Name", "The %1 needs a name"};
inline constexpr TextKey DuplicateName{"Job", "Duplicate_Name",
                                       "The name %1 is already taken here"};
inline constexpr TextKey NoSuchJob{"Job", "No_Such_Job", "There is no job %1"};
inline constexpr TextKey NoSuchClosure{"Job", "No_Such_Closure", "There is no closure %1"};
inline constexpr TextKey NoSuchCable{"Job", "No_Such_Cable", "There is no cable %1"};
inline constexpr TextKey NoSuchTray{"Job", "No_Such_Tray", "There is no tray %1"};
inline constexpr TextKey NoSuchPosition{"Job", "No_Such_Position", "There is no position %1"};
inline constexpr TextKey NoSuchRecord{"Job", "No_Such_Record", "There is no splice record %1"};
inline constexpr TextKey BadLimit{"Job", "Bad_Limit",
                                  "A limit is out of range (0 to 655.35 dB, 0 to 6553.5 degrees)"};
inline constexpr TextKey BadPoint{
    "Job", "Bad_Point",
    "Give both latitude (-90 to 90) and longitude (-180 to 180) in decimal degrees"};
inline constexpr TextKey BadFibreCount{"Job", "Bad_Fibre_Count",
                                       "A cable has 12 to 864 fibres, not %1"};
inline constexpr TextKey BadPerTube{"Job", "Bad_Per_Tube",
                                    "Fibres per tube are 1 to the cable's fibre count, not %1"};
inline constexpr TextKey BadCapacity{"Job", "Bad_Capacity",
                                     "A tray holds 1 to 1000 splices, not %1"};
inline constexpr TextKey BadNumber{"Job", "Bad_Number", "Numbers start at 1, not %1"};
inline constexpr TextKey PositionOverCapacity{"Job", "Position_Over_Capacity",
                                              "Position %1 is beyond the tray's capacity"};
inline constexpr TextKey FibreOverCount{"Job", "Fibre_Over_Count",
                                        "Fibre %1 is beyond the cable's fibre count"};
inline constexpr TextKey FibreInUse{
    "Job", "Fibre_In_Use", "Fibre %1 is already joined on another position of the closure"};
inline constexpr TextKey FibreToItself{"Job", "Fibre_To_Itself",
                                       "Fibre %1 cannot be joined to itself"};
inline constexpr TextKey PositionJoinsOther{"Job", "Position_Joins_Other",
                                            "Position %1 holds splices of other fibres"};
inline constexpr TextKey RecordOfOtherJob{"Job", "Record_Of_Other_Job",
                                          "Splice record %1 is not of this job"};
inline constexpr TextKey RecordPlaced{"Job", "Record_Placed", "Splice record %1 is already placed"};
inline constexpr TextKey RecordIsTestSplice{"Job", "Record_Is_Test_Splice",
                                            "Splice record %1 is a test splice"};
inline constexpr TextKey NotEnoughUnplaced{"Job", "Not_Enough_Unplaced",
                                           "The job has only %1 unplaced splice records"};
inline constexpr TextKey ClosureNotEmpty{"Job", "Closure_Not_Empty",
                                         "Closure %1 holds placed splices: take them off first"};
inline constexpr TextKey CableInUse{"Job", "Cable_In_Use", "Positions join fibres of cable %1"};
inline constexpr TextKey TrayNotEmpty{"Job", "Tray_Not_Empty",
                                      "Tray %1 holds placed splices: take them off first"};
inline constexpr TextKey CapacityBelowPositions{
    "Job", "Capacity_Below_Positions", "Position %1 is in use: the capacity cannot be smaller"};
inline constexpr TextKey NothingToUndo{"Job", "Nothing_To_Undo", "There is no placing to undo"};
inline constexpr TextKey OlderThanFailure{
    "Job", "Older_Than_Failure",
    "Splice record %1 is older than the failed splice on that position and cannot redo it"};
inline constexpr TextKey PositionPlannedTwice{"Job", "Position_Planned_Twice",
                                              "The plan names position %1 twice"};
// ---- End of the refusals. The Job tab's captions follow. ----
}  // namespace job_tab

// Section "Report": how a splice is judged and named, words the report and a job's
// deliverables share (the report's captions, report/report_texts.h, hold them too).
namespace judging {
inline constexpr TextKey Job{"Report", "Job", "Job"};
inline constexpr TextKey Verdict{"Report", "Verdict", "Verdict"};
inline constexpr TextKey Passed{"Report", "Passed", "Passed"};
inline constexpr TextKey MaxLoss{"Report", "Max_Loss", "Loss at most (dB)"};
inline constexpr TextKey MaxAngle{"Report", "Max_Angle", "Cleave angle at most (deg)"};
inline constexpr TextKey Number{"Report", "Number", "No."};
// A splice's mark, in the order of Mark (history/splice_acceptance.h).
inline constexpr std::array<TextKey, 5> Marks{{
    {"Report", "Mark_Pass", "Pass"},
    {"Report", "Mark_Failed", "Splice failed"},
    {"Report", "Mark_Over_Loss", "Loss over limit"},
    {"Report", "Mark_Over_Angle", "Angle over limit"},
    {"Report", "Mark_Over_Both", "Loss, angle over limit"},
}};
}  // namespace judging

// Section "Job". ---- Deliverables of a job: the splice matrix (XLSX, CSV), the
// closures as GeoJSON and the job's report. Kept together for merging with the
// Job tab's keys of the same section.
namespace job_files {
// The fibre colours' names, in the order of jobs::FibreColour.
inline constexpr std::array<TextKey, 12> ColourNames{{
    {"Job", "Colour_Blue", "blue"},
    {"Job", "Colour_Orange", "orange"},
    {"Job", "Colour_Green", "green"},
    {"Job", "Colour_Brown", "brown"},
    {"Job", "Colour_Slate", "slate"},
    {"Job", "Colour_White", "white"},
    {"Job", "Colour_Red", "red"},
    {"Job", "Colour_Black", "black"},
    {"Job", "Colour_Yellow", "yellow"},
    {"Job", "Colour_Violet", "violet"},
    {"Job", "Colour_Rose", "rose"},
    {"Job", "Colour_Aqua", "aqua"},
}};
// The matrix's column captions (jobs/matrix_columns.cpp puts them in their order).
inline constexpr TextKey ColTray{"Job", "Col_Tray", "Tray"};
inline constexpr TextKey ColPosition{"Job", "Col_Position", "Position"};
inline constexpr TextKey ColCableA{"Job", "Col_Cable_A", "Cable A"};
inline constexpr TextKey ColTubeA{"Job", "Col_Tube_A", "Tube A"};
inline constexpr TextKey ColFibreA{"Job", "Col_Fibre_A", "Fibre A"};
inline constexpr TextKey ColColourA{"Job", "Col_Colour_A", "Colour A"};
inline constexpr TextKey ColCableB{"Job", "Col_Cable_B", "Cable B"};
inline constexpr TextKey ColTubeB{"Job", "Col_Tube_B", "Tube B"};
inline constexpr TextKey ColFibreB{"Job", "Col_Fibre_B", "Fibre B"};
inline constexpr TextKey ColColourB{"Job", "Col_Colour_B", "Colour B"};
inline constexpr TextKey ColLoss{"Job", "Col_Loss", "Loss (dB)"};
inline constexpr TextKey ColResult{"Job", "Col_Result", "Result"};
inline constexpr TextKey ColSplicer{"Job", "Col_Splicer", "Splicer"};
inline constexpr TextKey ColNumber{"Job", "Col_Number", "Splice No."};
inline constexpr TextKey ColTime{"Job", "Col_Time", "Time"};
inline constexpr TextKey ColResplices{"Job", "Col_Resplices", "Re-splices"};
inline constexpr TextKey ColReplaced{"Job", "Col_Replaced", "Replaced attempts"};
inline constexpr TextKey MatrixTitle{"Job", "Matrix_Title", "Splice matrix"};
inline constexpr TextKey SummarySheet{"Job", "Summary_Sheet", "Summary"};
inline constexpr TextKey Customer{"Job", "Customer", "Customer"};
inline constexpr TextKey Contractor{"Job", "Contractor", "Contractor"};
inline constexpr TextKey Technicians{"Job", "Technicians", "Technicians"};
inline constexpr TextKey Notes{"Job", "Notes", "Notes"};
inline constexpr TextKey JobPassed{"Job", "Job_Passed", "The job passed"};
inline constexpr TextKey JobNotPassed{"Job", "Job_Not_Passed", "The job did not pass"};
inline constexpr TextKey JobNotStarted{"Job", "Job_Not_Started",
                                       "The job has not started: no position is spliced"};
inline constexpr TextKey JobInProgress{"Job", "Job_In_Progress",
                                       "The job is in progress: %1 of %2 positions spliced"};
// The verdict in a word, where a list gives one a job (job list, the Job tab's tree).
inline constexpr TextKey StateNotStarted{"Job", "State_Not_Started", "not started"};
inline constexpr TextKey StateInProgress{"Job", "State_In_Progress", "in progress"};
inline constexpr TextKey StateFailed{"Job", "State_Failed", "failed"};
inline constexpr TextKey StatePassed{"Job", "State_Passed", "passed"};
inline constexpr TextKey Closure{"Job", "Closure", "Closure"};
inline constexpr TextKey Closures{"Job", "Closures", "Closures"};
inline constexpr TextKey Location{"Job", "Location", "Location"};
inline constexpr TextKey Latitude{"Job", "Latitude", "Latitude"};
inline constexpr TextKey Longitude{"Job", "Longitude", "Longitude"};
inline constexpr TextKey Positions{"Job", "Positions", "Positions"};
inline constexpr TextKey Spliced{"Job", "Spliced", "Spliced"};
inline constexpr TextKey OverLimit{"Job", "Over_Limit", "Over a limit"};
inline constexpr TextKey Respliced{"Job", "Respliced", "Re-spliced"};
inline constexpr TextKey Planned{"Job", "Planned", "Planned, not spliced"};
inline constexpr TextKey Unplaced{"Job", "Unplaced", "Records not placed"};
inline constexpr TextKey TestSplices{"Job", "Test_Splices", "Test splices, not counted"};
inline constexpr TextKey Total{"Job", "Total", "Total"};
inline constexpr TextKey Replaced{"Job", "Replaced", "replaced"};
// One replaced attempt: %1 its number on its splicer, %2 its loss, %3 its result.
inline constexpr TextKey ReplacedSplice{"Job", "Replaced_Splice", "No. %1, %2 dB, %3"};
inline constexpr TextKey ReplacedCount{"Job", "Replaced_Count", "Replaced attempts"};
inline constexpr TextKey Failures{"Job", "Failures", "Failures that count"};
inline constexpr TextKey NoFailures{"Job", "No_Failures", "No failure counts"};
inline constexpr TextKey Fibres{"Job", "Fibres", "Fibres"};
inline constexpr TextKey Cause{"Job", "Cause", "Cause"};
// A GBK file cannot hold a character of a field: %1 the file's line, %2 the field,
// %3 the character.
inline constexpr TextKey NotInGbk{"Job", "Not_In_Gbk",
                                  "line %1: '%2' holds %3, which a GBK file cannot hold"};
}  // namespace job_files
// A splice plan read from a file (jobs/plan_file.h). %1, %2, %3: as each says.
namespace job_plan {
inline constexpr TextKey Row{"Job", "Plan_Row", "Row %1: %2"};
inline constexpr TextKey SheetRow{"Job", "Plan_Sheet_Row", "Sheet %1, row %2: %3"};
inline constexpr TextKey Unreadable{"Job", "Plan_Unreadable", "The plan %1 cannot be read: %2"};
inline constexpr TextKey NotAPlan{
    "Job", "Plan_Not_A_Plan",
    "The plan %1 has no sheet with the matrix's tray and position columns"};
inline constexpr TextKey MissingColumn{"Job", "Plan_Missing_Column", "there is no column %1"};
inline constexpr TextKey EmptyCell{"Job", "Plan_Empty_Cell", "%1 is empty"};
inline constexpr TextKey NotText{"Job", "Plan_Not_Text", "%1 is not UTF-8 text"};
// %3 and %4: the lowest and the highest number the column takes.
inline constexpr TextKey BadNumber{"Job", "Plan_Bad_Number",
                                   "%1 must be a whole number from %3 to %4, not '%2'"};
inline constexpr TextKey NoPositions{"Job", "Plan_No_Positions", "The plan %1 has no positions"};
inline constexpr TextKey TooMany{"Job", "Plan_Too_Many", "The plan %1 has more than %2 positions"};
}  // namespace job_plan
// ---- End of the deliverables' keys.
// ---- Section "Job", the Job tab: the window's captions (jobs_texts.h words the refusals) ----
namespace job_tab {
inline constexpr TextKey TabName{"Job", "Table_Name", "Jobs"};
inline constexpr TextKey ColName{"Job", "Col_Name", "Name"};
inline constexpr TextKey ColSpliced{"Job", "Col_Spliced", "Spliced/planned"};
inline constexpr TextKey CountFailed{"Job", "Count_Failed", "%1 failed"};
inline constexpr TextKey CountOver{"Job", "Count_Over", "%1 over limit"};
inline constexpr TextKey TrayItem{"Job", "Tray_Item", "Tray %1"};
inline constexpr TextKey UnplacedItem{"Job", "Unplaced_Item", "Unplaced records"};
inline constexpr TextKey TestItem{"Job", "Test_Item", "Test splices"};
inline constexpr TextKey ColPosition = job_files::ColPosition;
inline constexpr TextKey ColCableA = job_files::ColCableA;
inline constexpr TextKey ColFibreA = job_files::ColFibreA;
inline constexpr TextKey ColCableB = job_files::ColCableB;
inline constexpr TextKey ColFibreB = job_files::ColFibreB;
inline constexpr TextKey ColLoss = job_files::ColLoss;
inline constexpr TextKey ColResult = job_files::ColResult;
inline constexpr TextKey ColSplicer = job_files::ColSplicer;
inline constexpr TextKey ColTime = job_files::ColTime;
inline constexpr TextKey ColResplices = job_files::ColReplaced;
inline constexpr TextKey FibreText{"Job", "Fibre_Text", "%1: tube %2 %3, %4"};
inline constexpr TextKey MarkTest{"Job", "Mark_Test", "Test splice, not counted"};
inline constexpr TextKey BtnNewJob{"Job", "Btn_New_Job", "New job"};
inline constexpr TextKey BtnEdit{"Job", "Btn_Edit", "Edit"};
inline constexpr TextKey BtnAddClosure{"Job", "Btn_Add_Closure", "Add closure"};
inline constexpr TextKey BtnAddCable{"Job", "Btn_Add_Cable", "Add cable"};
inline constexpr TextKey BtnAddTray{"Job", "Btn_Add_Tray", "Add tray"};
inline constexpr TextKey BtnDelete{"Job", "Btn_Delete", "Delete"};
inline constexpr TextKey BtnPlace{"Job", "Btn_Place", "Place splices"};
inline constexpr TextKey BtnUndoPlacing{"Job", "Btn_Undo_Placing", "Undo placing"};
inline constexpr TextKey BtnMove{"Job", "Btn_Move", "Move"};
inline constexpr TextKey BtnTestSplice{"Job", "Btn_Test_Splice", "Test splice"};
inline constexpr TextKey BtnCountSplice{"Job", "Btn_Count_Splice", "Count it"};
inline constexpr TextKey JobCaption{"Job", "Job_Caption", "Job"};
inline constexpr TextKey ClosureCaption{"Job", "Closure_Caption", "Closure"};
inline constexpr TextKey CableCaption{"Job", "Cable_Caption", "Cable"};
inline constexpr TextKey TrayCaption{"Job", "Tray_Caption", "Tray"};
inline constexpr TextKey MoveCaption{"Job", "Move_Caption", "Move the splice"};
inline constexpr TextKey FieldName{"Job", "Field_Name", "Name"};
inline constexpr TextKey FieldCustomer{"Job", "Field_Customer", "Customer"};
inline constexpr TextKey FieldContractor{"Job", "Field_Contractor", "Contractor"};
inline constexpr TextKey FieldTechnicians{"Job", "Field_Technicians", "Technicians"};
inline constexpr TextKey FieldNotes{"Job", "Field_Notes", "Notes"};
inline constexpr TextKey FieldMaxLoss{"Job", "Field_Max_Loss", "Own maximum loss (dB)"};
inline constexpr TextKey FieldMaxAngle{"Job", "Field_Max_Angle", "Own maximum cleave angle (deg)"};
inline constexpr TextKey FieldLocation{"Job", "Field_Location", "Location"};
inline constexpr TextKey FieldPoint{"Job", "Field_Point", "Latitude, longitude"};
inline constexpr TextKey FieldFibres{"Job", "Field_Fibres", "Fibres"};
inline constexpr TextKey FieldPerTube{"Job", "Field_Per_Tube", "Fibres a tube"};
inline constexpr TextKey FieldTray{"Job", "Field_Tray", "Tray"};
inline constexpr TextKey FieldCapacity{"Job", "Field_Capacity", "Positions"};
inline constexpr TextKey FieldFirstPosition{"Job", "Field_First_Position", "First position"};
inline constexpr TextKey FieldPosition{"Job", "Field_Position", "Position"};
inline constexpr TextKey FieldCableA{"Job", "Field_Cable_A", "Cable A, first fibre"};
inline constexpr TextKey FieldCableB{"Job", "Field_Cable_B", "Cable B, first fibre"};
inline constexpr TextKey FieldLatest{"Job", "Field_Latest",
                                     "The next records in splice order, of the job or of none"};
inline constexpr TextKey FieldChosen{"Job", "Field_Chosen",
                                     "The records chosen in the Archive tab (%1)"};
inline constexpr TextKey PreviewRecord{"Job", "Preview_Record", "Record"};
inline constexpr TextKey ResplicePreview{"Job", "Resplice_Preview",
                                         "re-splice of position %1 (replaces No. %2, %3 dB, %4)"};
inline constexpr TextKey Placed{"Job", "Placed", "%1 records placed"};
inline constexpr TextKey PlacedOne{"Job", "Placed_One", "%1 record placed"};
inline constexpr TextKey Unplaced{"Job", "Taken_Off", "%1 records taken off their positions"};
inline constexpr TextKey UnplacedOne{"Job", "Taken_Off_One", "%1 record taken off its position"};
inline constexpr TextKey Moved{"Job", "Moved", "The splice was moved"};
inline constexpr TextKey Marked{"Job", "Marked", "Marked as a test splice"};
inline constexpr TextKey Counted{"Job", "Counted", "Counted again"};
inline constexpr TextKey Deleted{"Job", "Deleted", "%1 deleted"};
inline constexpr TextKey Saved{"Job", "Saved", "%1 saved"};
inline constexpr TextKey DeleteQuestion{"Job", "Delete_Question",
                                        "Delete %1 with its cables, trays and positions?"};
inline constexpr TextKey ChooseJob{"Job", "Choose_Job", "Choose a job first"};
inline constexpr TextKey ChooseClosure{"Job", "Choose_Closure",
                                       "Choose a closure or one of its trays first"};
inline constexpr TextKey ChooseTray{"Job", "Choose_Tray", "Choose a tray first"};
inline constexpr TextKey ChooseSplice{"Job", "Choose_Splice",
                                      "Choose a spliced position or a record first"};
inline constexpr TextKey ChooseCable{"Job", "Choose_Cable", "Add the closure's cables first"};
inline constexpr TextKey NothingToPlace{"Job", "Nothing_To_Place", "There are no records to place"};
inline constexpr TextKey NoJobs{
    "Job", "No_Jobs", "No jobs yet: make one with New job, or name records in the Archive tab"};
// The Archive tab's column of where a splice was placed: closure, tray, position.
inline constexpr TextKey ColPlace{"Job", "Col_Place", "Closure / tray / position"};
inline constexpr TextKey PlaceText{"Job", "Place_Text", "%1 / %2 / %3"};
// The names of the 12 fibre colours, in FibreColour order.
inline constexpr const auto& ColourNames = job_files::ColourNames;
// A closure without trays has no splice diagram (velmora-cli diagram).
inline constexpr TextKey NoTrays{"Job", "No_Trays", "Closure %1 has no trays"};
}  // namespace job_tab
// ---- end of the Job tab's captions ----
// Section "Job": a job's hand-over package (report/job_package.h) and the Jobs tab's
// entries for each of its files.
namespace handover {
inline constexpr TextKey BtnHandOver{"Job", "Btn_Hand_Over", "Hand over..."};
inline constexpr TextKey MenuXlsx{"Job", "Menu_Xlsx", "Splice matrix (XLSX)..."};
inline constexpr TextKey MenuCsv{"Job", "Menu_Csv", "Splice matrix (CSV)..."};
inline constexpr TextKey MenuGeoJson{"Job", "Menu_GeoJson", "Closures (GeoJSON)..."};
inline constexpr TextKey MenuDiagram{"Job", "Menu_Diagram", "Splice diagram (SVG)..."};
inline constexpr TextKey Title{"Job", "Hand_Over_Title", "Hand over the job"};
inline constexpr TextKey NotPassed{
    "Job", "Hand_Over_Not_Passed",
    "The job has not passed: its package says so, on the report's first page too."};
inline constexpr TextKey AsFolder{"Job", "Hand_Over_Folder", "One folder"};
inline constexpr TextKey AsZip{"Job", "Hand_Over_Zip", "One ZIP file"};
inline constexpr TextKey Images{"Job", "Hand_Over_Images", "With the images of its splices"};
inline constexpr TextKey Into{"Job", "Hand_Over_Into", "Into"};
inline constexpr TextKey WritesTo{"Job", "Hand_Over_Writes_To", "The package goes to %1"};
inline constexpr TextKey Write{"Job", "Hand_Over_Write", "Hand over"};
inline constexpr TextKey Writing{"Job", "Hand_Over_Writing", "Writing the package..."};
inline constexpr TextKey Written{"Job", "Hand_Over_Written", "The package is in %1"};
inline constexpr TextKey Cancelled{"Job", "Hand_Over_Cancelled",
                                   "The hand-over was cancelled: nothing was written"};
inline constexpr TextKey TargetTaken{
    "Job", "Hand_Over_Taken",
    "%1 is already there: a package goes only where nothing is, or into an empty folder"};
inline constexpr TextKey NotWritten{"Job", "Hand_Over_Not_Written",
                                    "%1 could not be written (%2): nothing was left behind"};
inline constexpr TextKey PdfFailed{"Job", "Hand_Over_Pdf_Failed",
                                   "The PDF report could not be made: nothing was left behind"};
inline constexpr TextKey ImagesLeftOut{"Job", "Hand_Over_Images_Left_Out",
                                       "These images are not in the package:"};
}  // namespace handover
// Section "Job": planning from the Jobs tab, where placing goes on, and the records
// of no job in its list of unplaced records.
namespace job_planning {
inline constexpr TextKey BtnPlanPosition{"Job", "Btn_Plan_Position", "Plan position..."};
inline constexpr TextKey BtnImportPlan{"Job", "Btn_Import_Plan", "Import plan..."};
inline constexpr TextKey PlanCaption{"Job", "Plan_Caption", "Plan a position"};
inline constexpr TextKey ImportCaption{"Job", "Import_Caption", "Import a plan (CSV or XLSX)"};
inline constexpr TextKey PlanFiles{"Job", "Plan_Files", "Plans"};
inline constexpr TextKey FieldClosure{"Job", "Field_Closure", "Closure"};
inline constexpr TextKey FieldFibreA{"Job", "Field_Fibre_A", "Cable A, fibre"};
inline constexpr TextKey FieldFibreB{"Job", "Field_Fibre_B", "Cable B, fibre"};
// %1 the position, %2 the tray's number.
inline constexpr TextKey PlannedOne{"Job", "Planned_One", "Position %1 of tray %2 planned"};
inline constexpr TextKey PlannedMany{"Job", "Planned_Many", "%1 positions planned"};
// A tray of the job in the place form: %1 its closure, %2 its number.
inline constexpr TextKey ClosureTray{"Job", "Closure_Tray", "%1, tray %2"};
inline constexpr TextKey TrayFull{
    "Job", "Tray_Full", "This tray is full: choose another, or type a position to re-splice"};
inline constexpr TextKey JobFull{
    "Job", "Job_Full",
    "Every tray of the job is full: add a tray, or type a position to re-splice"};
// A new closure's cables, named in its form: each with as many fibres.
inline constexpr TextKey FieldCables{"Job", "Field_Cables", "Cables (names, by commas)"};
inline constexpr TextKey FieldCableFibres{"Job", "Field_Cable_Fibres", "Fibres a cable"};
// The unplaced records' list marks those of no job (placing names them to the job).
inline constexpr TextKey OfNoJob{"Job", "Of_No_Job", "no job"};
}  // namespace job_planning
// Section "Team": the team archive (PostgreSQL) that laptops send to. %1: what the
// server or the library said, or a number; %2, %3 further numbers.
namespace team_tab {
inline constexpr TextKey NotAvailable{
    "Team", "Not_Available",
    "The team archive cannot be used: PostgreSQL's client library (libpq) cannot be loaded (%1)"};
inline constexpr TextKey NotJoined{"Team", "Not_Joined", "This PC has not joined a team archive"};
inline constexpr TextKey BadAddress{"Team", "Bad_Address",
                                    "The team archive's address cannot be used: %1"};
inline constexpr TextKey Insecure{
    "Team", "Insecure",
    "%1 is not this PC: the address needs sslmode=verify-full&sslrootcert=<the server's CA file>"};
inline constexpr TextKey Unreachable{"Team", "Unreachable",
                                     "The team archive cannot be reached just now (%1)"};
inline constexpr TextKey Refused{"Team", "Refused",
                                 "The team archive's server refused this connection (%1)"};
inline constexpr TextKey NeedsTls{
    "Team", "Needs_Tls",
    "The server takes secure connections only: add sslmode=verify-full&sslrootcert=<CA> (%1)"};
inline constexpr TextKey NotAnswering{
    "Team", "Not_Answering",
    "The team archive stopped answering (%1); what was sent is kept, the next send goes on"};
inline constexpr TextKey Stopped{
    "Team", "Stopped",
    "Stopped before the end; what was sent is kept, the next send goes on from there"};
inline constexpr TextKey AuthFailed{"Team", "Auth_Failed",
                                    "The team archive refused the user name or password (%1)"};
inline constexpr TextKey TlsFailed{
    "Team", "Tls_Failed",
    "The team archive's secure connection could not be made or verified (%1)"};
inline constexpr TextKey NoRights{"Team", "No_Rights",
                                  "The team archive refused: this user has no rights for it (%1)"};
inline constexpr TextKey NotInitialised{"Team", "Not_Initialised",
                                        "That database holds no team archive yet (%1)"};
inline constexpr TextKey TooNew{"Team", "Too_New",
                                "The team archive is of a newer Velmora (%1): update this one"};
inline constexpr TextKey ProtocolError{"Team", "Protocol_Error",
                                       "The team archive answered something it should not (%1)"};
inline constexpr TextKey LocalArchive{"Team", "Local_Archive", "This PC's archive failed: %1"};
inline constexpr TextKey Failed{"Team", "Failed", "The team archive failed: %1"};
inline constexpr TextKey Waiting{
    "Team", "Waiting",
    "Waiting to be sent: %1 records, %2 images, %3 settings snapshots, %4 job items changed"};
inline constexpr TextKey Sent{
    "Team", "Sent", "Sent: %1 records, %2 images, %3 settings snapshots, %4 job items changed"};
// Who answered a connection: %1 PostgreSQL's version, %2 the host, %3 the port, %4 the
// user, %5 how the connection is protected (one of the four below; %1 there: the TLS
// protocol).
inline constexpr TextKey Answered{"Team", "Answered", "Answered: PostgreSQL %1 at %2:%3 as %4, %5"};
inline constexpr TextKey SecureVerified{"Team", "Secure_Verified",
                                        "secure (%1), the server's certificate and name verified"};
inline constexpr TextKey SecureCaVerified{"Team", "Secure_Ca_Verified",
                                          "secure (%1), the server's certificate verified"};
inline constexpr TextKey SecureUnverified{"Team", "Secure_Unverified",
                                          "encrypted (%1), the server's certificate not verified"};
inline constexpr TextKey NotEncrypted{"Team", "Not_Encrypted", "not encrypted (this PC only)"};
inline constexpr TextKey ImagesWithoutFile{
    "Team", "Images_Without_File", "%1 images were sent without their picture: the file is gone"};
inline constexpr TextKey LastSend{"Team", "Last_Send", "Last successful send: %1"};
inline constexpr TextKey NeverSent{"Team", "Never_Sent", "never"};
inline constexpr TextKey Pulled{"Team", "Pulled",
                                "Read: %1 records, %2 images, %3 job items changed"};
inline constexpr TextKey NoSuchJob{"Team", "No_Such_Job", "The team archive has no job %1"};
inline constexpr TextKey ViewAsOf{"Team", "View_As_Of", "Showing the team archive as of %1"};
// A row of the team archive this PC would not take: %1 the row, %2 its laptop, %3 its
// sender, %4 why; a row is RowChange (%1 its id, %2 what it changes), RowRecord or RowImage.
inline constexpr TextKey LeftOut{
    "Team", "Left_Out", "Not taken from the team archive: %1 from laptop %2, sent by %3: %4"};
inline constexpr TextKey RowChange{"Team", "Row_Change", "change %1 (%2)"};
inline constexpr TextKey RowRecord{"Team", "Row_Record", "record %1"};
inline constexpr TextKey RowImage{"Team", "Row_Image", "image %1"};
// %1 %2: the kind of entity and its id; %3: what the archive said.
inline constexpr TextKey NotApplied{
    "Team", "Not_Applied",
    "Not taken from the team archive: the state of %1 %2 breaks a rule of this PC's archive (%3)"};
inline constexpr TextKey NotANumber{"Team", "Not_A_Number", "%1 is not a number"};
inline constexpr TextKey UnknownField{"Team", "Unknown_Field", "no such field"};
inline constexpr TextKey BadIdentity{"Team", "Bad_Identity", "\"%1\" is not an id of this program"};
inline constexpr TextKey BadRecord{"Team", "Bad_Record", "not a splice record of 34 bytes"};
inline constexpr TextKey UnsafeName{"Team", "Unsafe_Name", "\"%1\" is not a safe name"};
inline constexpr TextKey BadChecksum{"Team", "Bad_Checksum", "its bytes do not match its SHA-256"};
}  // namespace team_tab

// Section "TeamWindow": the window's side of the team archive: its settings
// dialog, the sending shown on the Archive tab, and the "This PC" / "Team" views.
namespace team_window {
inline constexpr TextKey Title{"TeamWindow", "Title", "Team archive"};
inline constexpr TextKey Settings{"TeamWindow", "Settings", "Team archive..."};
inline constexpr TextKey Address{"TeamWindow", "Address", "Address:"};
inline constexpr TextKey Host{"TeamWindow", "Host", "Server:"};
inline constexpr TextKey Port{"TeamWindow", "Port", "Port:"};
inline constexpr TextKey Database{"TeamWindow", "Database", "Database:"};
inline constexpr TextKey User{"TeamWindow", "User", "User:"};
inline constexpr TextKey VerifyFull{"TeamWindow", "Verify_Full",
                                    "Verify the server's certificate (verify-full)"};
inline constexpr TextKey CaFile{"TeamWindow", "Ca_File", "CA file:"};
inline constexpr TextKey Browse{"TeamWindow", "Browse", "Browse..."};
inline constexpr TextKey ChooseCaFile{"TeamWindow", "Choose_Ca_File", "The CA file of the server"};
inline constexpr TextKey Password{"TeamWindow", "Password", "Password:"};
inline constexpr TextKey RememberPassword{"TeamWindow", "Remember_Password",
                                          "Remember the password for this server"};
inline constexpr TextKey PasswordNote{
    "TeamWindow", "Password_Note",
    "Remembered in %1, readable by you only; otherwise kept until the program ends"};
inline constexpr TextKey PasswordNotSaved{"TeamWindow", "Password_Not_Saved",
                                          "The password could not be remembered: %1"};
inline constexpr TextKey PasswordPromptTitle{"TeamWindow", "Password_Prompt_Title",
                                             "Team archive password"};
inline constexpr TextKey PasswordPrompt{
    "TeamWindow", "Password_Prompt",
    "The team archive refused the password. Password for this run (not saved):"};
inline constexpr TextKey Test{"TeamWindow", "Test", "Test connection"};
inline constexpr TextKey Testing{"TeamWindow", "Testing", "Trying the team archive..."};
inline constexpr TextKey Reached{"TeamWindow", "Reached",
                                 "Reached: the team archive is ready to send to and read"};
inline constexpr TextKey Join{"TeamWindow", "Join", "Join"};
inline constexpr TextKey Leave{"TeamWindow", "Leave", "Leave"};
inline constexpr TextKey Close{"TeamWindow", "Close", "Close"};
inline constexpr TextKey JoinedTo{"TeamWindow", "Joined_To", "This PC sends to %1"};
inline constexpr TextKey NotJoinedYet{"TeamWindow", "Not_Joined_Yet",
                                      "This PC sends to no team archive"};
inline constexpr TextKey ThisPc{"TeamWindow", "This_Pc", "This PC"};
inline constexpr TextKey TeamView{"TeamWindow", "Team_View", "Team"};
inline constexpr TextKey SendNow{"TeamWindow", "Send_Now", "Send now"};
inline constexpr TextKey Sending{"TeamWindow", "Sending", "Sending to the team archive..."};
inline constexpr TextKey Reading{"TeamWindow", "Reading", "Reading the team archive..."};
inline constexpr TextKey AsOf{"TeamWindow", "As_Of", "Team archive as of %1"};
inline constexpr TextKey NeverRead{"TeamWindow", "Never_Read",
                                   "The team archive has not been read on this PC yet"};
inline constexpr TextKey ReadOnlyView{"TeamWindow", "Read_Only_View",
                                      "The team view is read-only: edit in This PC"};
inline constexpr TextKey NoTeamJobs{"TeamWindow", "No_Team_Jobs", "The team view holds no jobs"};
}  // namespace team_window
}  // namespace keys

}  // namespace velmora
