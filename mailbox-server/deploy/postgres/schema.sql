-- SPDX-License-Identifier: GPL-3.0-or-later
-- The mailbox server's tables. Safe to apply again: nothing that exists is changed.
--   psql -v ON_ERROR_STOP=1 -d velkorant -f schema.sql

CREATE TABLE IF NOT EXISTS mailboxes (
    folder text PRIMARY KEY CHECK (folder ~ '^[0-9A-F]{10}$'),
    -- The number of the mailbox's last message; a send takes the next one.
    last_number bigint NOT NULL DEFAULT 0 CHECK (last_number >= 0)
);

CREATE TABLE IF NOT EXISTS messages (
    folder text NOT NULL REFERENCES mailboxes (folder),
    number bigint NOT NULL CHECK (number > 0),
    -- Exactly the bytes served as msj_<number>_datos.cry.
    data bytea NOT NULL,
    PRIMARY KEY (folder, number)
);
