<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// Mailboxes in PostgreSQL, for servers of several web nodes: the scripts keep nothing of their
// own, so any number of nodes can share one database. The tables are in
// deploy/postgres/schema.sql.

declare(strict_types=1);

require_once __DIR__ . '/mailbox_store.php';

final class DatabaseMailboxStore implements MailboxStore
{
    private function __construct(private readonly PDO $db)
    {
    }

    // $dsn is a PDO connection string such as "pgsql:host=/run/postgresql;dbname=velkorant".
    // Each php-fpm worker keeps its connection between requests; one left broken by a database
    // restart fails its first statement, which makes PDO reconnect on the next attempt.
    public static function connect(string $dsn, bool $persistent = true): self
    {
        for ($attempt = 1;; $attempt++) {
            $db = new PDO($dsn, null, null, [
                PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
                PDO::ATTR_PERSISTENT => $persistent,
                // One round trip per statement instead of a prepare, an execute and a release.
                PDO::ATTR_EMULATE_PREPARES => true,
            ]);
            try {
                $db->query('SELECT 1');
                return new self($db);
            } catch (PDOException $e) {
                if ($attempt === 2) {
                    throw $e;
                }
            }
        }
    }

    public function installSchema(string $sql): void
    {
        $this->db->exec($sql);
    }

    // A standby of a replicated pair answers reads but refuses every write.
    public function probe(): void
    {
        if ($this->db->query('SHOW transaction_read_only')->fetchColumn() !== 'off') {
            throw new RuntimeException('the database is read-only');
        }
    }

    public function exists(string $folder): bool
    {
        $query = $this->db->prepare('SELECT 1 FROM mailboxes WHERE folder = ?');
        $query->execute([$folder]);
        return $query->fetchColumn() !== false;
    }

    public function create(string $folder): bool
    {
        $insert = $this->db->prepare('INSERT INTO mailboxes (folder) VALUES (?) ON CONFLICT DO NOTHING');
        $insert->execute([$folder]);
        return $insert->rowCount() === 1;
    }

    // The mailbox row is locked from taking the number to the commit, so two sends never share
    // a number, and a send that fails rolls back and gives its number back.
    public function append(string $folder, string $data): ?int
    {
        return $this->inTransaction(function () use ($folder, $data): ?int {
            $take = $this->db->prepare(
                'UPDATE mailboxes SET last_number = last_number + 1 WHERE folder = ? RETURNING last_number'
            );
            $take->execute([$folder]);
            $number = $take->fetchColumn();
            if ($number === false) {
                return null;
            }
            $this->insert($folder, (int) $number, $data);
            return (int) $number;
        });
    }

    public function message(string $folder, int $number): ?string
    {
        $query = $this->db->prepare('SELECT data FROM messages WHERE folder = ? AND number = ?');
        $query->execute([$folder, $number]);
        $data = $query->fetchColumn();
        if ($data === false) {
            return null;
        }
        return is_resource($data) ? (string) stream_get_contents($data) : (string) $data;
    }

    // For moving a filesystem data root here: the mailbox is created when missing, each message
    // stored under its own number unless one is there already, and the mailbox's numbering goes
    // on after the highest. $messages yields number => contents. Returns the counts of messages
    // copied and already there, and the numbers already there with other contents (left alone).
    public function import(string $folder, iterable $messages): array
    {
        return $this->inTransaction(function () use ($folder, $messages): array {
            $this->create($folder);
            $this->db->prepare('SELECT 1 FROM mailboxes WHERE folder = ? FOR UPDATE')->execute([$folder]);
            $result = ['copied' => 0, 'there' => 0, 'conflicts' => []];
            $highest = 0;
            foreach ($messages as $number => $data) {
                $highest = max($highest, $number);
                $stored = $this->message($folder, $number);
                if ($stored === null) {
                    $this->insert($folder, $number, $data);
                    $result['copied']++;
                } elseif ($stored === $data) {
                    $result['there']++;
                } else {
                    $result['conflicts'][] = $number;
                }
            }
            $this->db->prepare('UPDATE mailboxes SET last_number = GREATEST(last_number, ?) WHERE folder = ?')
                ->execute([$highest, $folder]);
            return $result;
        });
    }

    private function insert(string $folder, int $number, string $data): void
    {
        $insert = $this->db->prepare('INSERT INTO messages (folder, number, data) VALUES (?, ?, ?)');
        $insert->bindValue(1, $folder);
        $insert->bindValue(2, $number, PDO::PARAM_INT);
        $insert->bindValue(3, $data, PDO::PARAM_LOB);
        $insert->execute();
    }

    private function inTransaction(callable $work): mixed
    {
        $this->db->beginTransaction();
        try {
            $result = $work();
            $this->db->commit();
            return $result;
        } catch (Throwable $e) {
            // The connection outlives the request: it must not stay inside a transaction.
            if ($this->db->inTransaction()) {
                try {
                    $this->db->rollBack();
                } catch (Throwable) {
                    // a connection that is gone has rolled back already
                }
            }
            throw $e;
        }
    }
}
