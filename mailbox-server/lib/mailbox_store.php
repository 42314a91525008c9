<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// How mailboxes are kept. Every store numbers a mailbox's messages 1, 2, 3 ... without a gap
// (a gap would hide every later message from its receiver), and every message is served at
// <folder>/msj_<n>_datos.cry: by the web server from the disk, else by leer_mensaje.php.

declare(strict_types=1);

interface MailboxStore
{
    // Throws unless a message could be stored right now; the server check says "OK" only then.
    public function probe(): void;

    public function exists(string $folder): bool;

    // False when the mailbox already exists.
    public function create(string $folder): bool;

    // The number the message was stored under, or null when the mailbox does not exist. Returns
    // only once the message is durable; a failure throws and leaves no number taken.
    public function append(string $folder, string $data): ?int;

    // The message exactly as stored, or null when there is none.
    public function message(string $folder, int $number): ?string;
}

// A folder per mailbox under the data root, holding the message files themselves.
final class FileMailboxStore implements MailboxStore
{
    private const MESSAGE_FILE = '/^msj_([1-9][0-9]{0,17})_datos\.cry$/D';
    // Beyond this many messages stored past the remembered number, one listing is cheaper.
    private const FORWARD_LIMIT = 64;

    public function __construct(private readonly string $root)
    {
    }

    public function usable(): bool
    {
        return is_dir($this->root) && is_writable($this->root);
    }

    // Stores a few bytes for real and removes them; throws when that fails. Only a write catches
    // a full disk, exhausted inodes or a read-only mount, and root passes is_writable() anyway.
    // It costs an fsync, so the server check runs it, not every request.
    public function probe(): void
    {
        $path = sprintf('%s/.probe-%s', $this->root, bin2hex(random_bytes(8)));
        try {
            $this->writeDurably($path, 'ok');
        } finally {
            if (file_exists($path)) {
                unlink($path);
            }
        }
    }

    public function exists(string $folder): bool
    {
        return is_dir($this->path($folder));
    }

    public function message(string $folder, int $number): ?string
    {
        $data = @file_get_contents($this->messagePath($this->path($folder), $number));
        return $data === false ? null : $data;
    }

    // False when the mailbox already exists: mkdir is atomic, so of two racing creates only one wins.
    public function create(string $folder): bool
    {
        $dir = $this->path($folder);
        if (@mkdir($dir, 0755)) {
            chmod($dir, 0755);
            self::syncDirectory($this->root);
            return true;
        }
        clearstatcache(true, $dir);
        if (is_dir($dir)) {
            return false;
        }
        throw new RuntimeException("cannot create mailbox folder $dir");
    }

    // Stores one message and returns its number, or null when the mailbox does not exist.
    // Numbering happens under an exclusive lock of the mailbox, and the file appears by a rename,
    // so concurrent senders never share or skip a number and readers never see a partial file.
    public function append(string $folder, string $data): ?int
    {
        $dir = $this->path($folder);
        if (!is_dir($dir)) {
            return null;
        }
        $lock = fopen($dir . '/.lock', 'c');
        if ($lock === false) {
            throw new RuntimeException("cannot open the lock of $dir");
        }
        $tmp = null;
        try {
            if (!flock($lock, LOCK_EX)) {
                throw new RuntimeException("cannot lock $dir");
            }
            $number = $this->nextNumber($dir);
            $final = $this->messagePath($dir, $number);
            $tmp = sprintf('%s/.tmp-%s', $dir, bin2hex(random_bytes(8)));
            $this->writeDurably($tmp, $data);
            // Never replace a message, even one placed there behind our back.
            clearstatcache(true, $final);
            if (file_exists($final) || !rename($tmp, $final)) {
                throw new RuntimeException("cannot place $final");
            }
            $tmp = null;
            // The rename is only a change of the folder until the folder itself is flushed.
            self::syncDirectory($dir);
            $this->remember($dir, $number);
            return $number;
        } finally {
            if ($tmp !== null && file_exists($tmp)) {
                unlink($tmp);
            }
            flock($lock, LOCK_UN);
            fclose($lock);
        }
    }

    private function path(string $folder): string
    {
        // Callers validate; this is the last line against a name that leaves the root.
        if (preg_match('/^[0-9A-F]{10}$/D', $folder) !== 1) {
            throw new InvalidArgumentException('invalid mailbox folder name');
        }
        return $this->root . '/' . $folder;
    }

    private function messagePath(string $dir, int $number): string
    {
        return sprintf('%s/msj_%d_datos.cry', $dir, $number);
    }

    // The number after the last message, without listing the folder: .last remembers the last
    // number given. It is trusted only when that message exists (a value ahead of the files would
    // leave a gap that hides every later message), and only as a start: messages stored after it
    // (a crash before .last was updated, an older server that never wrote it) are stepped over.
    private function nextNumber(string $dir): int
    {
        $last = @file_get_contents($dir . '/.last');
        if ($last === false || preg_match('/^(0|[1-9][0-9]{0,17})$/D', $last) !== 1) {
            return $this->highestNumber($dir) + 1;
        }
        $number = (int) $last;
        clearstatcache();
        if ($number > 0 && !file_exists($this->messagePath($dir, $number))) {
            return $this->highestNumber($dir) + 1;
        }
        for ($step = 0; file_exists($this->messagePath($dir, $number + 1)); $step++) {
            if ($step === self::FORWARD_LIMIT) {
                return $this->highestNumber($dir) + 1;
            }
            $number++;
        }
        return $number + 1;
    }

    // A replace by rename, without fsync: the message is already durable, and whatever a crash
    // leaves here (the old value, the new one, an empty file) the checks above repair. So a
    // failure only costs the next send a listing, and must not turn a stored message into an error.
    private function remember(string $dir, int $number): void
    {
        $tmp = $dir . '/.last.new';
        try {
            file_put_contents($tmp, (string) $number);
            rename($tmp, $dir . '/.last');
        } catch (Throwable $e) {
            error_log("velkorant: cannot remember the last number of $dir: " . $e->getMessage());
        }
    }

    private function highestNumber(string $dir): int
    {
        $names = scandir($dir);
        if ($names === false) {
            throw new RuntimeException("cannot list $dir");
        }
        $highest = 0;
        foreach ($names as $name) {
            if (preg_match(self::MESSAGE_FILE, $name, $m) === 1) {
                $highest = max($highest, (int) $m[1]);
            }
        }
        return $highest;
    }

    private function writeDurably(string $path, string $data): void
    {
        $file = fopen($path, 'xb');
        if ($file === false) {
            throw new RuntimeException("cannot create $path");
        }
        try {
            $written = 0;
            $length = strlen($data);
            while ($written < $length) {
                $n = fwrite($file, substr($data, $written));
                if ($n === false || $n === 0) {
                    throw new RuntimeException("cannot write $path");
                }
                $written += $n;
            }
            if (!fflush($file) || !fsync($file)) {
                throw new RuntimeException("cannot flush $path");
            }
        } finally {
            fclose($file);
        }
        // Served to anyone by the web server, which may run under another user.
        chmod($path, 0644);
    }

    // Makes the names created in a folder (a mkdir, a rename) survive a crash. PHP has no call
    // for this, but on POSIX systems a folder opened read-only is a descriptor fsync() accepts
    // (the same fsync(2) a C program would do; no helper binary to ship). Windows cannot open a
    // folder as a file, and NTFS journals the change of names itself.
    private static function syncDirectory(string $dir): void
    {
        if (PHP_OS_FAMILY === 'Windows') {
            return;
        }
        $handle = fopen($dir, 'r');
        if ($handle === false) {
            throw new RuntimeException("cannot open $dir");
        }
        try {
            if (!fsync($handle)) {
                throw new RuntimeException("cannot flush $dir");
            }
        } finally {
            fclose($handle);
        }
    }
}
