#pragma once

class TaskListModel;

// Moves a row's file to the extension its content shows and updates the row;
// true when it did.
bool CorrectRowType(TaskListModel& tasks, int row);
// CorrectRowType on every row; returns how many were corrected.
int CorrectAllRowTypes(TaskListModel& tasks);
// Writes "不存在" into the percent cell of every row whose file is missing.
void CheckFilesExist(TaskListModel& tasks);
// For saved web pages whose marker is "Y": inserts <Base href='URL'> before
// </HEAD>, so the page's relative links keep working; true when it did.
bool BaseReferenceStep(TaskListModel& tasks, int row);
