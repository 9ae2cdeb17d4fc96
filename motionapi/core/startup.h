// Start-up steps after the connection is counted, shared by QAX_Init and
// QAX_GetInitStatus.
#pragma once

// EtherCAT check, configuration load, cycle period, permission: 0 or the
// start-up result.
int McStartupChecks();
// Reads the cycle period and the axes' channel, group and link assignment.
int McReadCyclePeriod();
int McReadAxisSlaveMap();
