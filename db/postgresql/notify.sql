-- Change notifications for the maintenance database (PostgreSQL 13 or later).
-- Install after schema.sql; running it again replaces what it made before:
--     psql -v ON_ERROR_STOP=1 -d maintenance -f notify.sql
--
-- Every statement that changes what the work-order and linked-file grids show sends
-- ONE notification on the channel
--
--     orvantel_changes
--
-- whose payload is exactly one of:
--
--     wo:N[,N]...  The work orders with these numbers were inserted, updated or
--                  deleted; an update that renumbers a work order names the old and
--                  the new number. Decimal numbers, ascending, each once, separated
--                  by a comma, no blanks: "wo:10001" or "wo:10001,10002,10417".
--     all          Anything in vw_QX_WorkOrdersGrid may have changed: a statement
--                  whose "wo:" payload would be longer than 7000 bytes (PostgreSQL
--                  refuses 8000 and more), a TRUNCATE of WO_WorkOrders, or a change
--                  to a table that feeds the view's other columns (GS_Assets,
--                  GS_Users, WO_Statuses; GS_Users also feeds vw_WORequestedUsers).
--     files        vw_LinkedFiles changed (GS_LinkedFiles).
--
-- A payload never carries text from the rows, only these words and numbers. A
-- listener should read any payload it does not know as "all". A statement that
-- changes no rows sends nothing (a TRUNCATE always sends). Notifications are
-- delivered when the transaction commits, none after a rollback; PostgreSQL folds
-- identical payloads sent in one transaction into one.
--
-- The triggers are statement-level and read the statement's transition tables, so
-- a statement costs one notification however many rows it changes, and a listed
-- statement at most a few thousand rows read back; a bigger one is "all" without
-- reading its rows.
--
-- To remove everything this file made:
--     DROP FUNCTION orvantel_notify_work_orders(), orvantel_notify_table() CASCADE;

CREATE OR REPLACE FUNCTION orvantel_notify_work_orders() RETURNS trigger
LANGUAGE plpgsql
AS $$
DECLARE
    max_payload CONSTANT integer := 7000;
    -- Each distinct number takes two bytes at least ("7,"), so a statement that
    -- changed more rows than this can never be listed within max_payload.
    max_rows    CONSTANT integer := max_payload / 2;
    v_rows      integer;
    v_list      text;
    v_payload   text;
BEGIN
    -- Each branch reads only the transition table its event has: plpgsql plans a
    -- statement when it first runs, so the others never have to exist.
    IF TG_OP = 'INSERT' THEN
        SELECT count(*) INTO v_rows FROM (SELECT 1 FROM new_rows LIMIT max_rows + 1) s;
        IF v_rows BETWEEN 1 AND max_rows THEN
            SELECT string_agg(n::text, ',' ORDER BY n) INTO v_list
              FROM (SELECT DISTINCT WO_Nbr AS n FROM new_rows) s;
        END IF;
    ELSIF TG_OP = 'UPDATE' THEN
        SELECT count(*) INTO v_rows FROM (SELECT 1 FROM new_rows LIMIT max_rows + 1) s;
        IF v_rows BETWEEN 1 AND max_rows THEN
            SELECT string_agg(n::text, ',' ORDER BY n) INTO v_list
              FROM (SELECT WO_Nbr AS n FROM old_rows UNION SELECT WO_Nbr FROM new_rows) s;
        END IF;
    ELSIF TG_OP = 'DELETE' THEN
        SELECT count(*) INTO v_rows FROM (SELECT 1 FROM old_rows LIMIT max_rows + 1) s;
        IF v_rows BETWEEN 1 AND max_rows THEN
            SELECT string_agg(n::text, ',' ORDER BY n) INTO v_list
              FROM (SELECT DISTINCT WO_Nbr AS n FROM old_rows) s;
        END IF;
    ELSE -- TRUNCATE
        v_rows := max_rows + 1;
    END IF;

    IF v_rows = 0 THEN
        RETURN NULL;
    END IF;
    v_payload := 'wo:' || v_list;
    IF v_payload IS NULL OR octet_length(v_payload) > max_payload THEN
        v_payload := 'all';
    END IF;
    PERFORM pg_notify('orvantel_changes', v_payload);
    RETURN NULL;
END;
$$;

-- For the tables whose every change is announced the same way; the payload is the
-- trigger's argument.
CREATE OR REPLACE FUNCTION orvantel_notify_table() RETURNS trigger
LANGUAGE plpgsql
AS $$
BEGIN
    IF TG_OP = 'INSERT' OR TG_OP = 'UPDATE' THEN
        IF NOT EXISTS (SELECT 1 FROM new_rows) THEN
            RETURN NULL;
        END IF;
    ELSIF TG_OP = 'DELETE' THEN
        IF NOT EXISTS (SELECT 1 FROM old_rows) THEN
            RETURN NULL;
        END IF;
    END IF;
    PERFORM pg_notify('orvantel_changes', TG_ARGV[0]);
    RETURN NULL;
END;
$$;

-- A trigger with transition tables takes one event only, hence four per table.

DROP TRIGGER IF EXISTS orvantel_notify_insert ON WO_WorkOrders;
CREATE TRIGGER orvantel_notify_insert AFTER INSERT ON WO_WorkOrders
    REFERENCING NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_work_orders();
DROP TRIGGER IF EXISTS orvantel_notify_update ON WO_WorkOrders;
CREATE TRIGGER orvantel_notify_update AFTER UPDATE ON WO_WorkOrders
    REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_work_orders();
DROP TRIGGER IF EXISTS orvantel_notify_delete ON WO_WorkOrders;
CREATE TRIGGER orvantel_notify_delete AFTER DELETE ON WO_WorkOrders
    REFERENCING OLD TABLE AS old_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_work_orders();
DROP TRIGGER IF EXISTS orvantel_notify_truncate ON WO_WorkOrders;
CREATE TRIGGER orvantel_notify_truncate AFTER TRUNCATE ON WO_WorkOrders
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_work_orders();

DROP TRIGGER IF EXISTS orvantel_notify_insert ON GS_Assets;
CREATE TRIGGER orvantel_notify_insert AFTER INSERT ON GS_Assets
    REFERENCING NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_update ON GS_Assets;
CREATE TRIGGER orvantel_notify_update AFTER UPDATE ON GS_Assets
    REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_delete ON GS_Assets;
CREATE TRIGGER orvantel_notify_delete AFTER DELETE ON GS_Assets
    REFERENCING OLD TABLE AS old_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_truncate ON GS_Assets;
CREATE TRIGGER orvantel_notify_truncate AFTER TRUNCATE ON GS_Assets
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');

DROP TRIGGER IF EXISTS orvantel_notify_insert ON GS_Users;
CREATE TRIGGER orvantel_notify_insert AFTER INSERT ON GS_Users
    REFERENCING NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_update ON GS_Users;
CREATE TRIGGER orvantel_notify_update AFTER UPDATE ON GS_Users
    REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_delete ON GS_Users;
CREATE TRIGGER orvantel_notify_delete AFTER DELETE ON GS_Users
    REFERENCING OLD TABLE AS old_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_truncate ON GS_Users;
CREATE TRIGGER orvantel_notify_truncate AFTER TRUNCATE ON GS_Users
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');

DROP TRIGGER IF EXISTS orvantel_notify_insert ON WO_Statuses;
CREATE TRIGGER orvantel_notify_insert AFTER INSERT ON WO_Statuses
    REFERENCING NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_update ON WO_Statuses;
CREATE TRIGGER orvantel_notify_update AFTER UPDATE ON WO_Statuses
    REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_delete ON WO_Statuses;
CREATE TRIGGER orvantel_notify_delete AFTER DELETE ON WO_Statuses
    REFERENCING OLD TABLE AS old_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');
DROP TRIGGER IF EXISTS orvantel_notify_truncate ON WO_Statuses;
CREATE TRIGGER orvantel_notify_truncate AFTER TRUNCATE ON WO_Statuses
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('all');

DROP TRIGGER IF EXISTS orvantel_notify_insert ON GS_LinkedFiles;
CREATE TRIGGER orvantel_notify_insert AFTER INSERT ON GS_LinkedFiles
    REFERENCING NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('files');
DROP TRIGGER IF EXISTS orvantel_notify_update ON GS_LinkedFiles;
CREATE TRIGGER orvantel_notify_update AFTER UPDATE ON GS_LinkedFiles
    REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('files');
DROP TRIGGER IF EXISTS orvantel_notify_delete ON GS_LinkedFiles;
CREATE TRIGGER orvantel_notify_delete AFTER DELETE ON GS_LinkedFiles
    REFERENCING OLD TABLE AS old_rows
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('files');
DROP TRIGGER IF EXISTS orvantel_notify_truncate ON GS_LinkedFiles;
CREATE TRIGGER orvantel_notify_truncate AFTER TRUNCATE ON GS_LinkedFiles
    FOR EACH STATEMENT EXECUTE FUNCTION orvantel_notify_table('files');
