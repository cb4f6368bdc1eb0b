-- Maintenance database for PostgreSQL (13 or later).
-- Run in an empty database with: psql -v ON_ERROR_STOP=1 -d maintenance -f schema.sql
-- Names are left unquoted, so they are stored in lower case and found in any case.

CREATE TABLE GS_Divisions (
    DivisionID   text NOT NULL PRIMARY KEY,
    Descr        text
);

CREATE TABLE GS_Departments (
    DepartmentID text NOT NULL PRIMARY KEY,
    DivisionID   text NOT NULL REFERENCES GS_Divisions (DivisionID),
    Descr        text
);

CREATE TABLE GS_Assets (
    AssetCode    text NOT NULL PRIMARY KEY,
    Descr        text,
    AssetType    text,
    Location     text,
    DivisionID   text NOT NULL REFERENCES GS_Divisions (DivisionID),
    DepartmentID text NOT NULL REFERENCES GS_Departments (DepartmentID)
);

-- Everybody who requests or carries out work. CanRequestWork marks the people
-- offered as requesters; the others are technicians.
CREATE TABLE GS_Users (
    UserID         text NOT NULL PRIMARY KEY,
    Name           text,
    CanRequestWork integer NOT NULL DEFAULT 1 CHECK (CanRequestWork IN (0, 1))
);

-- Below 3 is open, 3 and 4 are history.
CREATE TABLE WO_Statuses (
    Status       integer NOT NULL PRIMARY KEY,
    Descr        text NOT NULL
);

CREATE TABLE WO_WorkOrders (
    WO_Nbr       integer NOT NULL PRIMARY KEY CHECK (WO_Nbr > 1),
    AssetCode    text NOT NULL REFERENCES GS_Assets (AssetCode),
    Status       integer NOT NULL DEFAULT 0 REFERENCES WO_Statuses (Status),
    Priority     integer CHECK (Priority BETWEEN 1 AND 5),
    DateLoaded   timestamp(0) NOT NULL,
    RequestedBy  text,
    AssignedTo   text,
    WorkRequest  text,
    IsPM         integer NOT NULL DEFAULT 0 CHECK (IsPM IN (0, 1)),
    DivisionID   text NOT NULL,
    DepartmentID text NOT NULL
);

CREATE INDEX WO_WorkOrders_AssetCode    ON WO_WorkOrders (AssetCode);
CREATE INDEX WO_WorkOrders_Status       ON WO_WorkOrders (Status);
CREATE INDEX WO_WorkOrders_IsPM         ON WO_WorkOrders (IsPM);
CREATE INDEX WO_WorkOrders_DivisionID   ON WO_WorkOrders (DivisionID);
CREATE INDEX WO_WorkOrders_DepartmentID ON WO_WorkOrders (DepartmentID);

CREATE TABLE GS_LinkedFiles (
    FileID       integer NOT NULL PRIMARY KEY,
    AssetCode    text NOT NULL REFERENCES GS_Assets (AssetCode),
    DocType      text,
    DocDescr     text,
    FileName     text NOT NULL
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
-- Called as: CALL sp_QX_CreateWorkOrder('P-101', 'Seal leaks', 2, 'JDOE');
CREATE PROCEDURE sp_QX_CreateWorkOrder(p_asset_code   text,
                                       p_work_request text,
                                       p_priority     integer,
                                       p_requested_by text)
LANGUAGE plpgsql
AS $$
DECLARE
    v_division   text;
    v_department text;
    v_nbr        integer;
BEGIN
    SELECT a.DivisionID, a.DepartmentID
      INTO v_division, v_department
      FROM GS_Assets a
     WHERE a.AssetCode = p_asset_code;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'sp_QX_CreateWorkOrder: unknown asset code "%"', p_asset_code
            USING ERRCODE = 'foreign_key_violation';
    END IF;

    -- Two callers must never draw the same number.
    LOCK TABLE WO_WorkOrders IN SHARE ROW EXCLUSIVE MODE;
    SELECT GREATEST(COALESCE(MAX(WO_Nbr), 1) + 1, 2) INTO v_nbr FROM WO_WorkOrders;

    INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, Priority, DateLoaded,
                               RequestedBy, AssignedTo, WorkRequest, IsPM,
                               DivisionID, DepartmentID)
    VALUES (v_nbr, p_asset_code, 0, p_priority, LOCALTIMESTAMP(0),
            p_requested_by, NULL, p_work_request, 0,
            v_division, v_department);
END;
$$;
