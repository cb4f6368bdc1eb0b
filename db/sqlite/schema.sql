-- Maintenance database for SQLite 3.
-- Run with: sqlite3 maintenance.db < schema.sql

PRAGMA foreign_keys = ON;

CREATE TABLE GS_Divisions (
    DivisionID   TEXT NOT NULL PRIMARY KEY,
    Descr        TEXT
);

CREATE TABLE GS_Departments (
    DepartmentID TEXT NOT NULL PRIMARY KEY,
    DivisionID   TEXT NOT NULL REFERENCES GS_Divisions (DivisionID),
    Descr        TEXT
);

CREATE TABLE GS_Assets (
    AssetCode    TEXT NOT NULL PRIMARY KEY,
    Descr        TEXT,
    AssetType    TEXT,
    Location     TEXT,
    DivisionID   TEXT NOT NULL REFERENCES GS_Divisions (DivisionID),
    DepartmentID TEXT NOT NULL REFERENCES GS_Departments (DepartmentID)
);

-- Everybody who requests or carries out work. CanRequestWork marks the people
-- offered as requesters; the others are technicians.
CREATE TABLE GS_Users (
    UserID         TEXT NOT NULL PRIMARY KEY,
    Name           TEXT,
    CanRequestWork INTEGER NOT NULL DEFAULT 1 CHECK (CanRequestWork IN (0, 1))
);

-- Below 3 is open, 3 and 4 are history.
CREATE TABLE WO_Statuses (
    Status       INTEGER NOT NULL PRIMARY KEY,
    Descr        TEXT NOT NULL
);

CREATE TABLE WO_WorkOrders (
    WO_Nbr       INTEGER NOT NULL PRIMARY KEY CHECK (WO_Nbr > 1),
    AssetCode    TEXT NOT NULL REFERENCES GS_Assets (AssetCode),
    Status       INTEGER NOT NULL DEFAULT 0 REFERENCES WO_Statuses (Status),
    Priority     INTEGER CHECK (Priority BETWEEN 1 AND 5),
    DateLoaded   TEXT NOT NULL,  -- 'YYYY-MM-DD HH:MM:SS', local time
    RequestedBy  TEXT,
    AssignedTo   TEXT,
    WorkRequest  TEXT,
    IsPM         INTEGER NOT NULL DEFAULT 0 CHECK (IsPM IN (0, 1)),
    DivisionID   TEXT NOT NULL,
    DepartmentID TEXT NOT NULL
);

CREATE INDEX WO_WorkOrders_AssetCode    ON WO_WorkOrders (AssetCode);
CREATE INDEX WO_WorkOrders_Status       ON WO_WorkOrders (Status);
CREATE INDEX WO_WorkOrders_IsPM         ON WO_WorkOrders (IsPM);
CREATE INDEX WO_WorkOrders_DivisionID   ON WO_WorkOrders (DivisionID);
CREATE INDEX WO_WorkOrders_DepartmentID ON WO_WorkOrders (DepartmentID);

CREATE TABLE GS_LinkedFiles (
    FileID       INTEGER NOT NULL PRIMARY KEY,
    AssetCode    TEXT NOT NULL REFERENCES GS_Assets (AssetCode),
    DocType      TEXT,
    DocDescr     TEXT,
    FileName     TEXT NOT NULL
);

CREATE INDEX GS_LinkedFiles_AssetCode ON GS_LinkedFiles (AssetCode);

INSERT INTO WO_Statuses (Status, Descr) VALUES
    (0, 'Requested'),
    (1, 'Approved'),
    (2, 'In Progress'),
    (3, 'Completed'),
    (4, 'Closed');

CREATE VIEW vw_QX_WorkOrdersGrid AS
SELECT w.WO_Nbr                                        AS WO_Nbr,
       w.AssetCode                                     AS AssetCode,
       a.Descr                                         AS AssetDescr,
       w.Status                                        AS Status,
       CASE WHEN w.IsPM = 1 THEN 'PM' ELSE s.Descr END AS StatusDescr,
       w.Priority                                      AS Priority,
       w.DateLoaded                                    AS DateLoaded,
       r.Name                                          AS RequestedByName,
       t.Name                                          AS AssignedToName,
       w.WorkRequest                                   AS Notes,
       w.IsPM                                          AS IsPM,
       w.DivisionID                                    AS DivisionID,
       w.DepartmentID                                  AS DepartmentID
FROM WO_WorkOrders w
LEFT JOIN GS_Assets   a ON a.AssetCode = w.AssetCode
LEFT JOIN WO_Statuses s ON s.Status    = w.Status
LEFT JOIN GS_Users    r ON r.UserID    = w.RequestedBy
LEFT JOIN GS_Users    t ON t.UserID    = w.AssignedTo;

CREATE VIEW vw_LinkedFiles AS
SELECT AssetCode, DocType, DocDescr, FileName
FROM GS_LinkedFiles;

CREATE VIEW vw_WORequestedUsers AS
SELECT UserID, Name
FROM GS_Users
WHERE CanRequestWork = 1;

-- Creates one open work order, dated now, numbered after the largest one.
-- Called as: INSERT INTO sp_QX_CreateWorkOrder VALUES ('P-101', 'Seal leaks', 2, 'JDOE');
CREATE VIEW sp_QX_CreateWorkOrder AS
SELECT CAST(NULL AS TEXT)    AS AssetCode,
       CAST(NULL AS TEXT)    AS WorkRequest,
       CAST(NULL AS INTEGER) AS Priority,
       CAST(NULL AS TEXT)    AS RequestedBy
WHERE 0;

CREATE TRIGGER sp_QX_CreateWorkOrder_Run
INSTEAD OF INSERT ON sp_QX_CreateWorkOrder
BEGIN
    SELECT RAISE(ABORT, 'sp_QX_CreateWorkOrder: unknown asset code')
    WHERE NOT EXISTS (SELECT 1 FROM GS_Assets WHERE AssetCode = NEW.AssetCode);

    INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, Priority, DateLoaded,
                               RequestedBy, AssignedTo, WorkRequest, IsPM,
                               DivisionID, DepartmentID)
    SELECT (SELECT MAX(COALESCE(MAX(WO_Nbr), 1) + 1, 2) FROM WO_WorkOrders),
           a.AssetCode, 0, NEW.Priority, datetime('now', 'localtime'),
           NEW.RequestedBy, NULL, NEW.WorkRequest, 0,
           a.DivisionID, a.DepartmentID
    FROM GS_Assets a
    WHERE a.AssetCode = NEW.AssetCode;
END;
